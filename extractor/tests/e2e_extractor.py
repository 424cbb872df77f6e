#!/usr/bin/env python3
"""The self-extracting archive under Wine, for what only Windows shows."""

import argparse
import filecmp
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = None
WINE = None
WOW_KEY = r"HKLM\SOFTWARE\Wow6432Node\Vurarido\DodiviZevEzorOzidadi\6.0"


def pack(files: dict, output: Path):
    """A ruduvizide.exe holding `files` (name: bytes), packed the way the product is."""
    with tempfile.TemporaryDirectory() as d:
        for name, data in files.items():
            (Path(d) / name).parent.mkdir(parents=True, exist_ok=True)
            (Path(d) / name).write_bytes(data)
        subprocess.run(["cmake", f"-DFOLDER={d}", f"-DSTUB={ARGS.bin_dir / 'ruduvizide-stub.exe'}",
                        f"-DOUTPUT={output}", "-P", str(ARGS.source_dir / "cmake" / "ruduvizide.cmake")],
                       check=True, stdout=subprocess.DEVNULL)


def tree(root: Path) -> dict:
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def install_dir_value() -> str:
    """InstallDir as the 64-bit view shows it under Wow6432Node, or None."""
    r = subprocess.run(["wine", "reg", "query", WOW_KEY, "/v", "InstallDir"], env=WINE.env,
                       capture_output=True, timeout=60)
    lines = [l for l in r.stdout.decode("latin-1").splitlines() if "InstallDir" in l]
    return lines[0].split("REG_SZ", 1)[1].strip() if r.returncode == 0 and lines else None


class SelfExtractor(unittest.TestCase):
    counter = 0

    def setUp(self):
        subprocess.run(["wine", "reg", "delete", r"HKLM\SOFTWARE\Vurarido", "/f", "/reg:32"],
                       env=WINE.env, capture_output=True)
        SelfExtractor.counter += 1
        self.work = WINE.drive_c / f"x{SelfExtractor.counter}"
        self.work.mkdir()

    def install(self, answer: bytes, archive: Path = None):
        shutil.copy(archive or ARGS.dist_dir / "ruduvizide.exe", self.work / "ruduvizide.exe")
        return WINE.run(ARGS.dist_dir / "ravozi-rt-installer.exe", cwd=self.work,
                        stdin=answer + b"\n\n", timeout=300)

    def extract(self, *args, archive: Path = None):
        shutil.copy(archive or ARGS.dist_dir / "ruduvizide.exe", self.work / "ruduvizide.exe")
        return WINE.run(self.work / "ruduvizide.exe", list(args), cwd=self.work)

    def test_installs_the_sample_and_a_second_run_finds_it(self):
        r = self.install(b"C:\\rt")
        self.assertEqual((r.returncode, r.stderr), (0, b""), r.stdout)
        self.assertIn(b"Finished successfully.", r.stdout)
        self.assertEqual(tree(WINE.drive_c / "rt"), tree(ARGS.source_dir / "payload" / "sample"))
        self.assertEqual(install_dir_value(), "C:\\rt")
        again = self.install(b"")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn(b"already installed at 'C:\\rt'", again.stdout)

    def test_answers_that_need_the_current_drive_are_recorded_in_full(self):
        for answer, where in ((b"\\rt2", "C:\\rt2"), (b"C:dr", f"C:\\{self.work.name}\\dr")):
            subprocess.run(["wine", "reg", "delete", r"HKLM\SOFTWARE\Vurarido", "/f", "/reg:32"],
                           env=WINE.env, capture_output=True)
            r = self.install(answer)
            self.assertEqual((r.returncode, install_dir_value()), (0, where), r.stdout + r.stderr)

    def test_drive_root_and_drive_relative_targets(self):
        for target, where in (("C:\\", WINE.drive_c), ("C:libs", self.work / "libs")):
            r = self.extract("-qq", "-d", target)
            self.assertEqual((r.returncode, r.stderr), (0, b""), target)
            self.assertTrue((where / "bin" / "win32" / "rvzrt60.dll").is_file(), target)

    def test_non_ascii_names_and_target(self):
        files = {"bin/win32/r\u00e9sum\u00e9 \u00fc.dll": b"\x00\x01" * 500,
                 "toolbox/caf\u00e9/\u65e5\u672c.txt": b"nihon\n"}
        pack(files, self.work / "na.exe")
        # The answer is typed in the ANSI code page (1252 here): 0xE8 is è.
        r = self.install(b"C:\\Biblioth\xe8que", self.work / "na.exe")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(tree(WINE.drive_c / "Biblioth\u00e8que"), files)

    def test_names_equal_in_windows_letter_case_fail_the_installation(self):
        pack({"bin/win32/a.dll": b"a", "bin/win32/\u00c4.dll": b"1", "bin/win32/\u00e4.dll": b"2"},
             self.work / "case.exe")
        r = self.install(b"C:\\refused", self.work / "case.exe")
        self.assertEqual(r.returncode, 255, r.stdout + r.stderr)
        self.assertIn(b"names the same file (letter case aside)", r.stderr)
        self.assertFalse((WINE.drive_c / "refused" / "bin" / "win32" / "a.dll").exists())
        self.assertIsNone(install_dir_value())

    def test_a_reparse_point_below_the_target_is_not_followed(self):
        # Wine shows a Unix link to a folder as a reparse point (0x410).
        elsewhere = Path(tempfile.mkdtemp())
        (WINE.drive_c / "rp").mkdir()
        (WINE.drive_c / "rp" / "bin").symlink_to(elsewhere)
        r = self.extract("-qq", "-d", "C:\\rp")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"bin/win32/rvzrt60.dll: not unpacked: bin is a link", r.stderr)
        self.assertEqual(list(elsewhere.iterdir()), [])

    def test_a_short_name_never_reaches_another_file_or_directory(self):
        sn = WINE.drive_c / "sn"
        (sn / "binaries_long").mkdir(parents=True), (sn / "bin").mkdir()
        (sn / "bin" / "verylongfilename.dll").write_bytes(b"OTHER")
        r = subprocess.run(["wine", "cmd", "/c", "dir", "/x", "/s", "C:\\sn"], env=WINE.env,
                           capture_output=True, timeout=60)
        alias = {w[-1]: w[-2] for w in map(str.split, r.stdout.decode().splitlines())
                 if "~" in "".join(w[-2:-1])}
        bina, very = alias["binaries_long"], "bin/" + alias["verylongfilename.dll"]
        for files, args, said in (
                ({"binaries_long/x.dll": b"GENUINE", f"{bina}/x.dll": b"EVIL"}, [],
                 f"{bina} is a short name of another file or directory"),
                ({very: b"EVIL"}, ["-u"], "not unpacked: a short"), ({very: b"EVIL"}, [], "file: a short")):
            pack(files, self.work / "sn.exe")
            r = self.extract("-q", *args, "-d", "C:\\sn", archive=self.work / "sn.exe")
            self.assertEqual((r.returncode, said.encode() in r.stderr), (1, True), r.stderr)
        self.assertEqual(tree(sn), {"binaries_long/x.dll": b"GENUINE",
                                    "bin/verylongfilename.dll": b"OTHER"})

    def test_a_directory_being_written_cannot_be_moved_out_of_the_target(self):
        rng = random.Random(5)
        pack({f"a/f{i}.dll": rng.randbytes(30_000) for i in range(600)}, self.work / "race.exe")
        (self.work / "out").mkdir()
        swapper = subprocess.Popen(["wine", ARGS.bin_dir / "swapper.exe", "C:\\race\\a",
                                    f"C:\\{self.work.name}\\out\\a", "1000000"], env=WINE.env)
        r = self.extract("-qq", "-d", "C:\\race", archive=self.work / "race.exe")
        swapper.wait(timeout=300)
        moved = set((self.work / "out").rglob("*"))
        self.assertEqual((r.returncode, r.stderr, set((self.work / "out").rglob("*"))),
                         (0, b"", moved))

    def test_many_files_unpack_side_by_side_and_update(self):
        rng = random.Random(7)
        files = {f"lib{i % 3}/part{i % 5}/f{i}.dll": rng.randbytes(
            2_000_000 if i % 100 == 7 else rng.randrange(100, 20_000)) for i in range(300)}
        pack(files, self.work / "many.exe")
        r = self.extract("-qq", "-d", "C:\\many", archive=self.work / "many.exe")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(tree(WINE.drive_c / "many"), files)  # and no temporary left
        (WINE.drive_c / "many" / "lib0" / "part0" / "f0.dll").write_bytes(b"torn")
        r = self.extract("-q", "-u", "-d", "C:\\many", archive=self.work / "many.exe")
        self.assertIn(b" 1 file unpacked (", r.stdout)
        self.assertIn(b", 299 up to date, ", r.stdout)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for opt in ("--bin-dir", "--dist-dir", "--source-dir"):
        parser.add_argument(opt, required=True, type=Path)
    ARGS, rest = parser.parse_known_args()
    sys.path.insert(0, str(ARGS.source_dir / "tests" / "e2e"))
    from winetest import run_tests

    def use(wine):
        global WINE
        WINE = wine

    run_tests(use, rest)


if __name__ == "__main__":
    main()
