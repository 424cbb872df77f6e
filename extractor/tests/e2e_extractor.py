#!/usr/bin/env python3
"""The self-extracting archive under Wine, for what only Windows shows."""

import argparse
import filecmp
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ARGS = None
WINE = None


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


class SelfExtractor(unittest.TestCase):
    counter = 0

    def setUp(self):
        SelfExtractor.counter += 1
        self.work = WINE.drive_c / f"x{SelfExtractor.counter}"
        self.work.mkdir()

    def extract(self, *args, archive: Path = None, lang: str = None):
        shutil.copy(archive or ARGS.dist_dir / "ruduvizide.exe", self.work / "ruduvizide.exe")
        return WINE.run(self.work / "ruduvizide.exe", list(args), cwd=self.work,
                        extra_env={"LANG": lang} if lang else None)

    def hold(self, path: Path, share: int):  # by a Windows process till the test ends
        p = subprocess.Popen(["wine", str(ARGS.bin_dir / "hold-file.exe"), f"Z:{path}", str(share)],
                             env=WINE.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(p.communicate)
        self.assertEqual(p.stdout.readline().strip(), b"held")

    def test_what_stands_at_a_library_is_named_and_a_file_outside_left_as_it_is(self):
        for name, make, said in (("hard", os.link, b"read-only"), ("sym", os.symlink, b"read-only"),
                                 ("dir", lambda _, lib: lib.mkdir(), b"a directory is in the way")):
            outside, lib = WINE.drive_c / f"{name}.dll", WINE.drive_c / name / "bin" / "win32"
            outside.write_bytes(b"system")
            outside.chmod(0o444)
            lib.mkdir(parents=True)
            make(outside, lib / "rvzrt60.dll")
            self.hold(lib / "rvzrt60.dll", 1)  # FILE_SHARE_READ: the replace fails
            r = self.extract("-qq", "-d", f"C:\\{name}")
            self.assertEqual((outside.stat().st_mode & 0o777, outside.read_bytes()),
                             (0o444, b"system"), name)
            self.assertIn(said, r.stderr)

    def test_the_sweep_removes_read_only_leftovers_but_not_a_live_temporary(self):
        lib = WINE.drive_c / "sweep" / "bin" / "win32"
        lib.mkdir(parents=True)
        for i in range(120):
            (lib / f".rdz-{i:016x}.tmp").write_bytes(b"x")
            (lib / f".rdz-{i:016x}.tmp").chmod(0o444)
        self.hold(lib / ".rdz-ffffffff00000001.tmp", 0)  # as a running extraction holds its own
        r = self.extract("-qq", "-d", "C:\\sweep")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual([p.name for p in lib.glob(".rdz-*")], [".rdz-ffffffff00000001.tmp"])

    def test_drive_root_and_drive_relative_targets_and_letters_the_code_page_lacks(self):
        for target, where in (("C:\\", WINE.drive_c), ("C:libs", self.work / "libs"),
                              ("\u0100pp", self.work / "\u0100pp"),  # not App, nor prepost
                              ("pre\uff02post", self.work / "pre\uff02post")):
            r = self.extract("-qq", "-d", target, lang="de_DE.UTF-8")  # code page 1252
            self.assertEqual((r.returncode, r.stderr), (0, b""), target)
            self.assertTrue((where / "bin" / "win32" / "rvzrt60.dll").is_file(), target)

    def test_non_ascii_names(self):
        files = {"bin/win32/r\u00e9sum\u00e9 \u00fc.dll": b"\x00\x01" * 500,
                 "toolbox/caf\u00e9/\u65e5\u672c.txt": b"nihon\n"}
        pack(files, self.work / "na.exe")
        r = self.extract("-qq", "-d", "C:\\na", archive=self.work / "na.exe")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(tree(WINE.drive_c / "na"), files)

    def test_names_equal_in_windows_letter_case_are_refused(self):
        pack({"bin/win32/a.dll": b"a", "bin/win32/\u00c4.dll": b"1", "bin/win32/\u00e4.dll": b"2"},
             self.work / "case.exe")
        r = self.extract("-qq", "-d", "C:\\refused", archive=self.work / "case.exe")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(b"names the same file (letter case aside)", r.stderr)
        self.assertFalse((WINE.drive_c / "refused" / "bin" / "win32" / "a.dll").exists())

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
        (sn / "lnk").mkdir(), (WINE.drive_c / "outside.dll").write_bytes(b"OUTSIDE")
        (sn / "lnk" / "verylongfilename.dll").symlink_to(WINE.drive_c / "outside.dll")  # 0x20 here
        r = subprocess.run(["wine", "cmd", "/c", "dir", "/x", "/s", "C:\\sn"], env=WINE.env,
                           capture_output=True, timeout=60)
        alias = {w[-1]: w[-2] for w in map(str.split, r.stdout.decode().splitlines())
                 if "~" in "".join(w[-2:-1])}
        bina, very = alias["binaries_long"], "bin/" + alias["verylongfilename.dll"]
        for files, args, said in (
                ({"binaries_long/x.dll": b"GENUINE", f"{bina}/x.dll": b"EVIL"}, [],
                 f"{bina} is a short name of another file or directory"),
                ({very: b"EVIL"}, ["-u"], "not unpacked: a short"), ({very: b"EVIL"}, [], "file: a short"),
                ({"lnk/" + very[4:]: b"EVIL"}, [], "replace file: a link")):  # a link's alias
            pack(files, self.work / "sn.exe")
            r = self.extract("-q", *args, "-d", "C:\\sn", archive=self.work / "sn.exe")
            self.assertEqual((r.returncode, said.encode() in r.stderr), (1, True), r.stderr)
        self.assertEqual(tree(sn), {"binaries_long/x.dll": b"GENUINE", "bin/verylongfilename.dll": b"OTHER",
                                    "lnk/verylongfilename.dll": b"OUTSIDE"})

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
        damaged = WINE.drive_c / "many" / "lib0" / "part0" / "f0.dll"
        stamp = damaged.stat().st_mtime_ns
        damaged.write_bytes(b"torn")  # of the entry's time, another size: written again
        os.utime(damaged, ns=(stamp, stamp))
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
