#!/usr/bin/env python3
"""The native stub as a program: options, exit codes, output levels, and
archives made by cmake/ruduvizide.cmake (the packing used for the product)."""

import argparse
import filecmp
import os
import subprocess
import sys
import tempfile
import traceback
import zipfile
from pathlib import Path

ARGS = None
TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


def pack(folder, output, mtime=None):
    cmd = [ARGS.cmake, f"-DFOLDER={folder}", f"-DSTUB={ARGS.stub}", f"-DOUTPUT={output}"]
    if mtime:
        cmd.append(f"-DMTIME={mtime}")
    cmd += ["-P", str(Path(ARGS.source_dir) / "cmake" / "ruduvizide.cmake")]
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def run(exe, *args, cwd=None):
    return subprocess.run([str(exe), *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          cwd=cwd, timeout=60)


def same_tree(a: Path, b: Path):
    cmp = filecmp.dircmp(a, b)
    assert not cmp.left_only and not cmp.right_only and not cmp.diff_files, \
        (cmp.left_only, cmp.right_only, cmp.diff_files)
    for sub in cmp.common_dirs:
        same_tree(a / sub, b / sub)


@test
def usage_errors(tmp):
    for args in (["-x"], ["extra"], ["-d"], ["-qqq"], ["--help"]):
        r = run(ARGS.stub, *args)
        assert r.returncode == 4, (args, r.returncode)
        assert b"usage: ruduvizide" in r.stderr and r.stdout == b"", args


@test
def stub_without_payload(tmp):
    r = run(ARGS.stub, "-qq", "-d", str(tmp / "t"))
    assert r.returncode == 2, r.returncode
    assert b"no ZIP archive found" in r.stderr, r.stderr
    assert not (tmp / "t").exists()


@test
def installer_invocation_installs_the_sample(tmp):
    exe = tmp / "ruduvizide"
    r = pack(ARGS.sample, exe)
    assert r.returncode == 0, r.stderr
    target = tmp / "new parent" / "libs"
    r = run(exe, "-qq", "-u", "-d", str(target) + "/", cwd=tmp)
    assert r.returncode == 0 and r.stdout == b"" and r.stderr == b"", r
    same_tree(Path(ARGS.sample), target)
    assert (target / "bin" / "win32").is_dir()
    assert not list(target.rglob("*.tmp"))

    r = run(exe, "-q", "-u", "-d", str(target))
    lines = r.stdout.decode().splitlines()
    assert r.returncode == 0 and len(lines) == 1, r
    assert lines[0].startswith("ruduvizide: 0 files unpacked (0 bytes), ") and "up to date" in lines[0]



@test
def default_target_is_the_current_directory(tmp):
    exe = tmp / "ruduvizide"
    assert pack(ARGS.sample, exe).returncode == 0
    (tmp / "cwd").mkdir()
    r = run(exe, "-qq", cwd=tmp / "cwd")
    assert r.returncode == 0, r
    assert (tmp / "cwd" / "bin" / "win32").is_dir()


@test
def packing_is_deterministic_sorted_and_relative(tmp):
    a, b = tmp / "a", tmp / "b"
    fixed = "2025-01-01 00:00:00 UTC"  # the checkout's file times vary
    assert pack(ARGS.sample, a, fixed).returncode == 0
    assert pack(ARGS.sample, b, fixed).returncode == 0
    assert a.read_bytes() == b.read_bytes()
    names = zipfile.ZipFile(a).namelist()
    assert names == sorted(names), names
    assert all(not n.startswith(("./", "/")) for n in names), names
    assert "bin/win32/rvzrt60.dll" in names and "readme.txt" in names
    stub_size = Path(ARGS.stub).stat().st_size
    assert a.read_bytes()[:stub_size] == Path(ARGS.stub).read_bytes()
    assert not list(tmp.glob("a.*")), list(tmp.glob("a.*"))  # no leftovers beside the output


@test
def packed_entries_keep_their_file_times_unless_one_is_given(tmp):
    # A newer release must replace older installed files under -u: the
    # archive carries each file's own time, not one fixed for every package.
    src = tmp / "src"
    src.mkdir()
    for name, when in (("old.dll", 1_000_000_000), ("new.dll", 1_900_000_000)):
        (src / name).write_text(name)
        os.utime(src / name, (when, when))
    assert pack(src, tmp / "own").returncode == 0
    r = run(tmp / "own", "-qq", "-d", str(tmp / "t1"))
    assert r.returncode == 0, r
    assert abs((tmp / "t1" / "old.dll").stat().st_mtime - 1_000_000_000) <= 2
    assert abs((tmp / "t1" / "new.dll").stat().st_mtime - 1_900_000_000) <= 2

    assert pack(src, tmp / "fixed", mtime="2025-01-01 00:00:00 UTC").returncode == 0
    r = run(tmp / "fixed", "-qq", "-d", str(tmp / "t2"))
    assert r.returncode == 0, r
    assert abs((tmp / "t2" / "old.dll").stat().st_mtime - 1_735_689_600) <= 2


@test
def packing_refuses_symlinks_and_empty_folders(tmp):
    src = tmp / "src"
    src.mkdir()
    r = pack(src, tmp / "out")
    assert r.returncode != 0 and b"nothing to pack" in r.stderr, r.stderr
    (src / "file").write_text("x")
    os.symlink("file", src / "link")
    r = pack(src, tmp / "out")
    assert r.returncode != 0 and b"symbolic links" in r.stderr, r.stderr
    assert not (tmp / "out").exists()


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--stub", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--cmake", default="cmake")
    ap.add_argument("--source-dir", required=True)
    ARGS = ap.parse_args()
    passed = failed = 0
    for fn in TESTS:
        with tempfile.TemporaryDirectory(prefix="rdz-cli-") as d:
            try:
                fn(Path(d))
                passed += 1
                print(f"ok   {fn.__name__}")
            except Exception:
                failed += 1
                print(f"FAIL {fn.__name__}")
                traceback.print_exc()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
