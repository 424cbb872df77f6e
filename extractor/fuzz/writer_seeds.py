#!/usr/bin/env python3
"""Writes fuzzer seeds made by real ZIP writers: a tiny tree packed by
Info-ZIP zip (plain, stored, streamed, Zip64, behind a stub), Python's
zipfile (deflated, stored, Zip64, streamed), bsdtar and CMake. Each writer
has its own habits in extra fields and flags; the builder seeds lack those.

    writer_seeds.py --out DIR [--cmake CMAKE]
"""

import argparse
import io
import os
import shutil
import subprocess
import tempfile
import zipfile
from pathlib import Path

FIXED_TIME = (2024, 1, 2, 3, 4, 6)


def make_tree(root: Path):
    files = {
        "readme.txt": b"Ravozi run-time\r\n" * 8,
        "bin/win32/lib.dll": bytes((i * 7919) & 0xFF for i in range(300)),
        "toolbox/empty.txt": b"",
        "names/caf\u00e9.txt": "\u00e9\n".encode("utf-8"),
    }
    for rel, data in files.items():
        p = root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
        os.utime(p, (1700000000, 1700000000))
    (root / "empty-dir").mkdir()


def python_zip(root: Path, dest: Path, compression, zip64=False, stream=False):
    class Unseekable(io.RawIOBase):
        def __init__(self, f):
            self.f = f

        def writable(self):
            return True

        def write(self, b):
            return self.f.write(b)

    names = sorted(p.relative_to(root).as_posix() + ("/" if p.is_dir() else "")
                   for p in root.rglob("*"))
    with open(dest, "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw) if stream else raw, "w", compression=compression) as zf:
            for name in names:
                info = zipfile.ZipInfo(name, FIXED_TIME)
                if name.endswith("/"):
                    zf.writestr(info, b"")
                    continue
                info.compress_type = compression
                with zf.open(info, "w", force_zip64=zip64) as dst:
                    dst.write((root / name).read_bytes())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True, type=Path)
    ap.add_argument("--cmake", default="cmake")
    args = ap.parse_args()
    out = args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    with tempfile.TemporaryDirectory() as tmp:
        tree = Path(tmp) / "tree"
        tree.mkdir()
        make_tree(tree)
        run = lambda cmd, **kw: subprocess.run(cmd, check=True, cwd=tree, env=env, **kw)

        python_zip(tree, out / "python-deflated.zip", zipfile.ZIP_DEFLATED)
        python_zip(tree, out / "python-stored.zip", zipfile.ZIP_STORED)
        python_zip(tree, out / "python-zip64.zip", zipfile.ZIP_DEFLATED, zip64=True)
        python_zip(tree, out / "python-stream.zip", zipfile.ZIP_DEFLATED, stream=True)
        if shutil.which("zip"):
            run(["zip", "-qrX", str(out / "infozip.zip"), "."])
            run(["zip", "-qr", str(out / "infozip-extras.zip"), "."])
            run(["zip", "-qr0", str(out / "infozip-stored.zip"), "."])
            run(["zip", "-qr", "-fz", str(out / "infozip-zip64.zip"), "."])
            # Into a pipe, where zip cannot seek back and writes data descriptors.
            piped = run(["zip", "-qr", "-", "."], stdout=subprocess.PIPE).stdout
            (out / "infozip-stream.zip").write_bytes(piped)
            stub = b"MZ" + bytes(range(256))
            adjusted = out / "infozip-stub-adjusted.zip"
            adjusted.write_bytes(stub + (out / "infozip.zip").read_bytes())
            run(["zip", "-qA", str(adjusted)])
        if shutil.which("bsdtar"):
            run(["bsdtar", "--format", "zip", "-cf", str(out / "bsdtar.zip"), "."])
        listing = Path(tmp) / "files.txt"
        listing.write_text("readme.txt\nbin/win32/lib.dll\ntoolbox/empty.txt\nnames/caf\u00e9.txt\n"
                           "empty-dir\n", encoding="utf-8")
        run([args.cmake, "-E", "tar", "cf", str(out / "cmake.zip"), "--format=zip",
             "--mtime=2024-01-01 00:00:00 UTC", "--files-from=" + str(listing)])


if __name__ == "__main__":
    main()
