#!/usr/bin/env python3
"""The self-extracting archive under Wine, as users get it: run by the real
installer with the sample payload, re-run with -u, and with payloads whose
names are not ASCII or must be refused.

Usage: e2e_extractor.py --bin-dir BUILD/bin --dist-dir BUILD/dist --source-dir SRC
"""

import argparse
import filecmp
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ARGS = None
WINE = None
WOW_KEY = r"HKLM\SOFTWARE\Wow6432Node\Vurarido\DodiviZevEzorOzidadi\6.0"


def pack(folder: Path, output: Path):
    """A ruduvizide.exe for `folder`, packed the way the product is."""
    subprocess.run(["cmake", f"-DFOLDER={folder}", f"-DSTUB={ARGS.bin_dir / 'ruduvizide-stub.exe'}",
                    f"-DOUTPUT={output}", "-P", str(ARGS.source_dir / "cmake" / "ruduvizide.cmake")],
                   check=True, stdout=subprocess.DEVNULL)


def assert_same_tree(test, got: Path, want: Path):
    cmp = filecmp.dircmp(got, want)
    test.assertEqual((cmp.left_only, cmp.right_only, cmp.diff_files), ([], [], []), got)
    for sub in cmp.common_dirs:
        assert_same_tree(test, got / sub, want / sub)


def install_dir_value() -> str:
    """InstallDir as the 64-bit view shows it under Wow6432Node, or None."""
    r = subprocess.run(["wine", "reg", "query", WOW_KEY, "/v", "InstallDir"], env=WINE.env,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    if r.returncode != 0:
        return None
    for line in r.stdout.decode("latin-1").splitlines():
        if "InstallDir" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


class SelfExtractor(unittest.TestCase):
    counter = 0

    def setUp(self):
        subprocess.run(["wine", "reg", "delete", r"HKLM\SOFTWARE\Vurarido", "/f", "/reg:32"],
                       env=WINE.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        SelfExtractor.counter += 1
        self.work = WINE.drive_c / f"x{SelfExtractor.counter}"
        self.work.mkdir()

    def install(self, answer: bytes, archive: Path = None):
        shutil.copy(archive or ARGS.dist_dir / "ruduvizide.exe", self.work / "ruduvizide.exe")
        start = time.monotonic()
        r = WINE.run(ARGS.dist_dir / "ravozi-rt-installer.exe", cwd=self.work,
                     stdin=answer + b"\n\n", timeout=300)
        self.elapsed = time.monotonic() - start
        self.assertFalse((self.work / "ruduvizide.exe").exists(), "extractor left behind")
        return r

    def extract(self, *args):
        """The archive run directly, as the installer runs it."""
        shutil.copy(ARGS.dist_dir / "ruduvizide.exe", self.work / "ruduvizide.exe")
        return WINE.run(self.work / "ruduvizide.exe", list(args), cwd=self.work)

    def test_installs_the_sample_and_a_second_run_finds_it(self):
        r = self.install(b"C:\\rt")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        print(f"\n  full installation of the sample payload: {self.elapsed:.2f} s", file=sys.stderr)
        self.assertIn(b"Finished successfully.", r.stdout)
        self.assertEqual(r.stderr, b"")
        assert_same_tree(self, WINE.drive_c / "rt", ARGS.source_dir / "payload" / "sample")
        self.assertEqual(install_dir_value(), "C:\\rt")

        again = self.install(b"")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn(b"already installed at 'C:\\rt'", again.stdout)

    def test_update_restores_only_what_went_missing(self):
        r = self.extract("-qq", "-u", "-d", "C:\\upd")
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        target = WINE.drive_c / "upd"
        before = {p: p.stat().st_mtime_ns for p in target.rglob("*") if p.is_file()}
        (target / "bin" / "win32" / "rvzmath60.dll").unlink()
        time.sleep(1.1)  # a rewrite would show in the times
        r = self.extract("-u", "-d", "C:\\upd")
        self.assertEqual(r.returncode, 0, r.stderr)
        out = r.stdout.replace(b"\r\n", b"\n")
        self.assertEqual(out.count(b"   unpacked: "), 1, out)
        self.assertIn(b"   unpacked: bin/win32/rvzmath60.dll\n", out)
        assert_same_tree(self, target, ARGS.source_dir / "payload" / "sample")
        after = {p: p.stat().st_mtime_ns for p in target.rglob("*") if p.is_file()}
        self.assertEqual(before, after)  # the restored file has the archive's time too

    def test_trailing_backslash_and_spaces(self):
        r = self.install(b"C:\\my libs\\rt\\")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        assert_same_tree(self, WINE.drive_c / "my libs" / "rt", ARGS.source_dir / "payload" / "sample")
        self.assertEqual(install_dir_value(), "C:\\my libs\\rt\\")

    def test_drive_root_and_drive_relative_targets(self):
        # A root keeps its backslash, so top-level files need no separator of ours.
        for target, where in (("C:\\", WINE.drive_c), ("C:libs", self.work / "libs")):
            with self.subTest(target=target):
                r = self.extract("-qq", "-d", target)
                self.assertEqual((r.returncode, r.stderr), (0, b""))
                self.assertTrue((where / "readme.txt").is_file())
                self.assertTrue((where / "bin" / "win32" / "rvzrt60.dll").is_file())

    def test_non_ascii_names_and_target(self):
        with tempfile.TemporaryDirectory() as d:
            src = Path(d) / "payload"
            (src / "bin" / "win32").mkdir(parents=True)
            (src / "toolbox" / "caf\u00e9").mkdir(parents=True)
            (src / "bin" / "win32" / "r\u00e9sum\u00e9 \u00fc.dll").write_bytes(b"\x00\x01" * 500)
            (src / "toolbox" / "caf\u00e9" / "\u65e5\u672c.txt").write_text("nihon\n")
            (src / "toolbox" / "na\u00efve.txt").write_text("naive\n")
            archive = Path(d) / "ruduvizide.exe"
            pack(src, archive)
            # The answer is typed in the ANSI code page (1252 here): 0xE8 is è.
            r = self.install(b"C:\\Biblioth\xe8que", archive)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            assert_same_tree(self, WINE.drive_c / "Biblioth\u00e8que", src)

    def test_refused_entry_fails_the_installation_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as d:
            src = Path(d) / "payload"
            (src / "bin" / "win32").mkdir(parents=True)
            (src / "bin" / "win32" / "a.dll").write_bytes(b"a")
            (src / "bin" / "win32" / "AUX.dll").write_bytes(b"device")
            archive = Path(d) / "ruduvizide.exe"
            pack(src, archive)
            r = self.install(b"C:\\refused", archive)
            self.assertEqual(r.returncode, 255, r.stdout + r.stderr)
            self.assertIn(b"bin/win32/AUX.dll: refused: reserved device name", r.stderr)
            self.assertFalse((WINE.drive_c / "refused" / "bin" / "win32" / "a.dll").exists())
            self.assertIsNone(install_dir_value())

    def test_many_files_unpack_side_by_side(self):
        # Enough for several workers: hundreds of small files in nested
        # folders and a few large ones, some that deflate and some that do not.
        rng = random.Random(7)
        with tempfile.TemporaryDirectory() as d:
            src = Path(d) / "payload"
            for i in range(300):
                folder = src / f"lib{i % 3}" / f"part{i % 5}"
                folder.mkdir(parents=True, exist_ok=True)
                size = 2_000_000 if i % 100 == 7 else rng.randrange(100, 20_000)
                data = rng.randbytes(size) if i % 2 else bytes(rng.choices(b"abcd ", k=size))
                (folder / f"f{i}.dll").write_bytes(data)
            archive = Path(d) / "ruduvizide.exe"
            pack(src, archive)
            shutil.copy(archive, self.work / "many.exe")
            r = WINE.run(self.work / "many.exe", ["-qq", "-d", "C:\\many"], cwd=self.work)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            target = WINE.drive_c / "many"
            assert_same_tree(self, target, src)
            self.assertEqual([p for p in target.rglob("*") if p.name.endswith(".tmp")], [])
            r = WINE.run(self.work / "many.exe", ["-q", "-u", "-d", "C:\\many"], cwd=self.work)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn(b" 0 files unpacked (0 bytes), 300 up to date, ", r.stdout)

    def test_bad_options_show_usage(self):
        r = self.extract("-x")
        self.assertEqual(r.returncode, 4)
        self.assertIn(b"usage: ruduvizide", r.stderr)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True, type=Path)
    parser.add_argument("--dist-dir", required=True, type=Path)
    parser.add_argument("--source-dir", required=True, type=Path)
    ARGS, rest = parser.parse_known_args()
    sys.path.insert(0, str(ARGS.source_dir / "tests" / "e2e"))
    from winetest import run_tests

    def use(wine):
        global WINE
        WINE = wine

    run_tests(use, rest)


if __name__ == "__main__":
    main()
