#!/usr/bin/env python3
"""Makes the archives that writers_test.cpp unpacks: one source tree packed
by every ZIP writer at hand (CMake, Info-ZIP zip, Python's zipfile, bsdtar),
in their stored, deflated, streamed (data descriptor) and Zip64 forms.

Each archive is named WRITER@TREE.zip: unpacked, it must reproduce the folder
TREE beside it byte for byte. A writer that is not installed is skipped with
a note; CI has them all.
"""

import argparse
import io
import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path


def make_tree(root: Path):
    if root.exists():
        shutil.rmtree(root)
    files = {
        "readme.txt": b"Ravozi run-time test tree\r\n" * 20,
        "bin/win32/lib.dll": bytes((i * 7919 + (i >> 5) * 31) & 0xFF for i in range(70000)),
        "bin/win32/big.dat": b"".join(b"line %06d of a compressible file\n" % i for i in range(9000)),
        "toolbox/empty.txt": b"",
        "toolbox/deep/er/file.cfg": b"[section]\nkey=value\n",
        "names/caf\u00e9 \u00fc.txt": "non-ASCII name \u00e9\n".encode("utf-8"),
    }
    for rel, data in files.items():
        p = root / rel
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data)
    (root / "empty-dir").mkdir()


def walk_sorted(root: Path):
    """Relative names, directories with a trailing slash, in sorted order."""
    out = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = Path(dirpath).relative_to(root)
        for d in dirnames:
            out.append((rel / d).as_posix() + "/")
        for f in filenames:
            out.append((rel / f).as_posix())
    return sorted(out)


def python_zip(root: Path, dest: Path, compression, zip64=False, stream=False):
    class Unseekable(io.RawIOBase):
        def __init__(self, f):
            self.f = f

        def writable(self):
            return True

        def write(self, b):
            return self.f.write(b)

    with open(dest, "wb") as raw:
        target = Unseekable(raw) if stream else raw
        with zipfile.ZipFile(target, "w", compression=compression) as zf:
            for name in walk_sorted(root):
                if name.endswith("/"):
                    zf.writestr(zipfile.ZipInfo(name, (2023, 5, 6, 7, 8, 10)), b"")
                    continue
                info = zipfile.ZipInfo(name, (2023, 5, 6, 7, 8, 10))
                info.compress_type = compression
                with zf.open(info, "w", force_zip64=zip64) as dst:
                    dst.write((root / name).read_bytes())


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True, type=Path)
    ap.add_argument("--cmake", default="cmake")
    args = ap.parse_args()
    out = args.out
    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob("*.zip"):
        old.unlink()

    tree = out / "tree"
    make_tree(tree)
    stdin_tree = out / "tree-stdin"
    if stdin_tree.exists():
        shutil.rmtree(stdin_tree)
    stdin_tree.mkdir()
    (stdin_tree / "-").write_bytes(b"from standard input\n" * 100)

    # Python's codec is the reference for the CP437 table.
    (out / "cp437.txt").write_bytes(bytes(range(0x20, 0x100)).decode("cp437").encode("utf-8"))

    python_zip(tree, out / "python-deflated@tree.zip", zipfile.ZIP_DEFLATED)
    python_zip(tree, out / "python-stored@tree.zip", zipfile.ZIP_STORED)
    python_zip(tree, out / "python-zip64@tree.zip", zipfile.ZIP_DEFLATED, zip64=True)
    python_zip(tree, out / "python-stream@tree.zip", zipfile.ZIP_DEFLATED, stream=True)
    python_zip(tree, out / "python-stream-zip64@tree.zip", zipfile.ZIP_DEFLATED, zip64=True,
               stream=True)

    names = [n for n in walk_sorted(tree)
             if not n.endswith("/") or not any((tree / n).iterdir())]
    listing = out / "cmake-files.txt"
    listing.write_text("".join(n.rstrip("/") + "\n" for n in names), encoding="utf-8")
    env = dict(os.environ, LC_ALL="C.UTF-8")
    run([args.cmake, "-E", "tar", "cf", str(out / "cmake@tree.zip"), "--format=zip",
         "--mtime=2024-01-01 00:00:00 UTC", "--files-from=" + str(listing)], cwd=tree, env=env)

    if shutil.which("zip"):
        run(["zip", "-qr", str(out / "infozip@tree.zip"), "."], cwd=tree, env=env)
        run(["zip", "-qr0", str(out / "infozip-stored@tree.zip"), "."], cwd=tree, env=env)
        with open(out / "infozip-stdout@tree.zip", "wb") as f:
            run(["zip", "-qr", "-", "."], cwd=tree, stdout=f, env=env)
        with open(stdin_tree / "-", "rb") as f:
            run(["zip", "-q", str(out / "infozip-stdin@tree-stdin.zip"), "-"], stdin=f, env=env)
        stub = b"MZ" + bytes(range(256)) * 16
        sfx = out / "stub+infozip@tree.zip"
        sfx.write_bytes(stub + (out / "infozip@tree.zip").read_bytes())
        adjusted = out / "stub-adjusted@tree.zip"
        shutil.copy(sfx, adjusted)
        run(["zip", "-qA", str(adjusted)], env=env)
    else:
        print("make_fixtures: zip not installed, its archives skipped", file=sys.stderr)

    if shutil.which("bsdtar"):
        run(["bsdtar", "--format", "zip", "-cf", str(out / "bsdtar@tree.zip"), "-C", str(tree), "."],
            env=env)
    else:
        print("make_fixtures: bsdtar not installed, its archive skipped", file=sys.stderr)


if __name__ == "__main__":
    main()
