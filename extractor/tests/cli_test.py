#!/usr/bin/env python3
"""The native stub as a program packed by cmake/ruduvizide.cmake: exit codes,
and what the disk does to it: links, kills, a full file system."""

import argparse
import fcntl
import filecmp
import os
import random
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ARGS = None


def pack(folder, output):
    return subprocess.run([ARGS.cmake, f"-DFOLDER={folder}", f"-DSTUB={ARGS.stub}", f"-DOUTPUT={output}",
                           "-P", str(Path(ARGS.source_dir) / "cmake" / "ruduvizide.cmake")],
                          capture_output=True)


def run(exe, *args, cwd=None):
    return subprocess.run([str(exe), *args], capture_output=True, cwd=cwd, timeout=60)


def same_tree(test, a: Path, b: Path):
    cmp = filecmp.dircmp(a, b)
    test.assertEqual((cmp.left_only, cmp.right_only, cmp.diff_files), ([], [], []), a)
    for sub in cmp.common_dirs:
        same_tree(test, a / sub, b / sub)


class Stub(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="rdz-cli-"))

        self.addCleanup(subprocess.run, ["rm", "-rf", str(self.tmp)])

    def archive(self, files):
        src = self.tmp / "src"
        for name, data in files.items():
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            (src / name).write_bytes(data)
        self.assertEqual(pack(src, self.tmp / "a.exe").returncode, 0)
        return src, self.tmp / "a.exe"

    def test_usage_errors_and_a_stub_without_payload(self):
        for args, code, text in ((["-x"], 4, b"usage: ruduvizide"), (["-qqq"], 4, b"usage: "),
                                 (["-qq", "-d", str(self.tmp / "t")], 2, b"no ZIP archive found"),
                                 (["-d", "x" * 4097], 4, b"target directory name is too long"),
                                 (["-d", "x" * 4096], 2, b"no ZIP archive found")):  # the longest name taken
            r = run(ARGS.stub, *args)
            self.assertEqual((r.returncode, r.stdout, text in r.stderr), (code, b"", True), args)
        self.assertFalse((self.tmp / "t").exists())
        for n, said in ((64, False), (65, True)):  # as many arguments as are taken, and one more
            r = run(ARGS.stub, *["-qq"] * n)
            self.assertEqual(b"too many arguments" in r.stderr, said, n)

    def test_no_link_below_the_target_is_followed(self):
        _, exe = self.archive({"bin/win32/a.dll": b"dll"})
        (self.tmp / "elsewhere").mkdir(), (self.tmp / "T").mkdir()
        os.symlink(self.tmp / "elsewhere", self.tmp / "T" / "bin")
        r = run(exe, "-qq", "-d", str(self.tmp / "T"))
        self.assertEqual((r.returncode, b"a.dll: not unpacked: bin is a link" in r.stderr), (1, True))
        self.assertEqual(list((self.tmp / "elsewhere").iterdir()), [])
        os.symlink(self.tmp / "elsewhere", self.tmp / "L")  # the target itself: the user's choice
        self.assertEqual(run(exe, "-qq", "-d", str(self.tmp / "L")).returncode, 0)
        self.assertTrue((self.tmp / "elsewhere" / "bin" / "win32" / "a.dll").is_file())

    def test_a_directory_swapped_for_a_link_while_unpacking_leads_nowhere(self):
        rng = random.Random(4)
        _, exe = self.archive({f"a/d{i}/f": rng.randbytes(20_000) for i in range(1500)})
        t, out = self.tmp / "t", self.tmp / "out"
        out.mkdir()
        p = subprocess.Popen([str(exe), "-qq", "-d", str(t)], stderr=subprocess.DEVNULL)
        for _ in range(100_000):  # and at most as long as the run
            if p.poll() is not None:
                break
            try:
                os.rename(t / "a", t / "real"), os.symlink(out, t / "a"), time.sleep(0.001)
                os.unlink(t / "a"), os.rename(t / "real", t / "a")
            except OSError:
                pass
        p.wait(timeout=60)
        self.assertEqual(list(out.iterdir()), [])

    def test_a_killed_run_is_mended_by_a_rerun(self):
        rng = random.Random(3)
        files = {f"d{i % 4}/f{i}": rng.randbytes(rng.randrange(1, 40_000)) for i in range(400)}
        files["d0/big"] = rng.randbytes(30_000_000)
        src, exe = self.archive(files)
        for delay in (0.005, 0.02, 0.05):
            target = self.tmp / f"t{delay}"
            p = subprocess.Popen([str(exe), "-qq", "-d", str(target)])
            time.sleep(delay)
            p.send_signal(signal.SIGKILL), p.wait()
            # Files made without a name vanish with the run that made them.
            self.assertEqual([f for f in target.rglob(".rdz-*")], [])
            r = run(exe, "-qq", "-u", "-d", str(target))
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            same_tree(self, target, src)  # and so no temporary is left

    def test_a_reader_that_went_away_loses_the_lines_not_the_files(self):
        src, exe = self.archive({f"d/f{i}": b"x" for i in range(300)})
        r, w = os.pipe()
        os.close(r), self.addCleanup(os.close, w)  # as `| head -n 1` does once it has its line
        self.assertEqual(subprocess.run([str(exe), "-d", str(self.tmp / "t")], stdout=w, timeout=60).returncode, 0)
        same_tree(self, self.tmp / "t", src)

    def test_on_fuse_each_file_is_flushed_before_its_rename_and_its_folder_after(self):
        _, exe = self.archive({"a/f1": b"1", "a/f2": b"2", "b/f3": b"3", "g": b"4"})
        back, mnt, log = self.tmp / "back", self.tmp / "mnt", self.tmp / "log"
        back.mkdir(), mnt.mkdir()
        py = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable  # Debian's fusepy
        fs = subprocess.Popen([py, Path(__file__).with_name("logging_fs.py"), back, mnt, log], stderr=subprocess.DEVNULL)
        self.addCleanup(fs.wait, 10), self.addCleanup(subprocess.run, ["umount", "-l", str(mnt)])
        for _ in range(100):
            if os.path.ismount(mnt) or fs.poll() is not None or time.sleep(0.05):
                break
        if not os.path.ismount(mnt):
            self.skipTest("cannot mount a FUSE file system here (no /dev/fuse, or no python3-fusepy)")
        self.assertEqual(run(exe, "-qq", "-d", str(mnt / "t")).returncode, 0)
        lines = log.read_text().splitlines()
        renames = [(i, line.split()[1:]) for i, line in enumerate(lines) if line.startswith("RENAME ")]
        self.assertEqual(len(renames), 4, lines)
        for i, (temp, final) in renames:
            self.assertIn(f"FSYNC {temp}", lines[:i], final)
            self.assertIn(f"FSYNCDIR {os.path.dirname(final)}", lines[i:], final)

    def test_a_sweep_leaves_what_a_running_extraction_holds(self):
        _, exe = self.archive({"f": b"x"})
        target = self.tmp / "t"
        target.mkdir()
        live, dead, fifo = (target / f".rdz-0000000{n}0000002a.tmp" for n in (1, 2, 3))
        live.write_bytes(b""), dead.write_bytes(b""), os.mkfifo(fifo)
        with open(live, "r+b") as held:  # as another run holds its temporary
            flock = struct.pack("hhqqi4x", fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0)
            fcntl.fcntl(held, fcntl.F_OFD_SETLK, flock)
            r = run(exe, "-qq", "-d", str(target))
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual((live.exists(), dead.exists(), fifo.exists()), (True, False, True))

    def test_a_low_descriptor_limit_unpacks_everything_more_slowly(self):
        src, exe = self.archive({f"d{i % 300}/f{i}": b"x" * (i % 7) for i in range(600)})
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (128, 128))
        r = subprocess.run([str(exe), "-qq", "-d", str(self.tmp / "t")], capture_output=True,
                           timeout=60, preexec_fn=limit)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        same_tree(self, self.tmp / "t", src)

    def test_a_full_disk_stops_with_one_message_and_no_temporary(self):
        _, exe = self.archive({f"f{i}": bytes(4000) for i in range(3000)})
        disk = self.tmp / "disk"
        disk.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(disk)]).returncode:
            self.skipTest("cannot mount a tmpfs here")
        self.addCleanup(subprocess.run, ["umount", str(disk)])
        r = run(exe, "-qq", "-d", str(disk / "t"))
        self.assertEqual((r.returncode, r.stderr.count(b"disk is full")), (1, 1), r.stderr[:2000])
        self.assertLessEqual(r.stderr.count(b"\n"), 2, r.stderr[:2000])
        self.assertEqual(list((disk / "t").glob(".rdz-*")), [])
        missing = 3000 - len(list((disk / "t").iterdir()))  # never started or not finished
        self.assertIn(b"ruduvizide: %d entries were not unpacked\n" % missing, r.stderr)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    for opt in ("--stub", "--source-dir"):
        ap.add_argument(opt, required=True)
    ap.add_argument("--cmake", default="cmake")
    ARGS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
