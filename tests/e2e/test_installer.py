"""The installer as a user meets it: the real .exe under Wine, answered on
standard input, with a stand-in extractor that records what it was handed.

Usage: test_installer.py --installer EXE --extractor EXE --regtool EXE
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from winetest import RECORD_KEY, RECORD_VALUE, run_tests  # noqa: E402

ARGS = None
WINE = None

BANNER = (b"DARADA Ravozi Run-Time Library Installer version 1.1.\n\n"
          b"This application installs the DARADA Ravozi Run-Time Libraries.\n")
NOTICE_END = b"      your PATH is configured correctly as mentioned above.\n\n"
SUCCESS = b"\nFinished successfully. Press Enter key to exit the installer.\n"
FAILURE = b"\nFinished unsuccessfully. Press Enter key to exit the installer.\n"


def prompt(default: str) -> bytes:
    return (b"Enter the directory to which to install the run-time libraries\n"
            b"  [default: " + default.encode() + b"]: ")


def text(stream: bytes) -> bytes:
    """The text-mode streams write CR LF; compare with plain line ends."""
    return stream.replace(b"\r\n", b"\n")


class Installer(unittest.TestCase):
    counter = 0

    def setUp(self):
        WINE.reg_delete(r"SOFTWARE\Vurarido")
        Installer.counter += 1
        self.work = WINE.drive_c / f"case{Installer.counter}"
        self.work.mkdir()
        self.cwd = f"C:\\case{Installer.counter}"

    def install(self, stdin: bytes, status=0, with_extractor=True):
        if with_extractor:
            shutil.copy(ARGS.extractor, self.work / "ruduvizide.exe")
        r = WINE.run(ARGS.installer, cwd=self.work, stdin=stdin,
                     extra_env={"RUDUVIZIDE_STATUS": str(status)})
        # Whatever the path, the extractor is gone afterwards.
        self.assertFalse((self.work / "ruduvizide.exe").exists(), "extractor left behind")
        return r

    def dialogue(self, r) -> bytes:
        out = text(r.stdout)
        self.assertTrue(out.startswith(BANNER), out[:200])
        return out[out.index(NOTICE_END) + len(NOTICE_END):]

    def record(self) -> str:
        r = WINE.run(ARGS.regtool, ["dump", RECORD_KEY, RECORD_VALUE])
        return r.stdout.decode().strip()

    def set_record(self, data: bytes):
        r = WINE.run(ARGS.regtool, ["set", RECORD_KEY, RECORD_VALUE, data.hex() or ""])
        self.assertEqual(r.returncode, 0, r.stderr)

    def extractor_log(self) -> str:
        log = self.work / "ruduvizide.log"
        return log.read_text("latin-1") if log.exists() else ""

    def assert_recorded(self, root: str):
        data = root.encode("latin-1") + b"\0"
        self.assertEqual(self.record(), f"type=1 size={len(data)} hex={data.hex()}")

    def test_executable_declares_as_invoker_and_carries_its_version(self):
        exe = Path(ARGS.installer).read_bytes()
        self.assertIn(b'<requestedExecutionLevel level="asInvoker"', exe)
        self.assertNotIn(b"activeCodePage", exe)  # the system's ANSI code page stays
        for key, value in [("ProductName", "DARADA Ravozi Run-Time Library Installer"),
                           ("ProductVersion", "1.1")]:
            self.assertIn(f"{key}\0".encode("utf-16-le"), exe)
            self.assertIn(f"{value}\0".encode("utf-16-le"), exe)

    # --- the paths of a run -------------------------------------------------

    def test_enter_installs_into_current_directory_then_second_run_finds_it(self):
        r = self.install(b"\n\n")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(self.dialogue(r), prompt(self.cwd) + SUCCESS)
        self.assertIn(b"\r\n", r.stdout)
        self.assertEqual(r.stderr, b"")
        self.assertIn(f'cmdline=ruduvizide.exe -qq -u -d "{self.cwd}"\n', self.extractor_log())
        self.assert_recorded(self.cwd)
        # The record is in the 32-bit view, where 32-bit copies look.
        self.assertIsNotNone(WINE.reg_query(RECORD_KEY, RECORD_VALUE))

        again = self.install(b"")
        self.assertEqual(again.returncode, 0)
        root = self.cwd.encode()
        self.assertEqual(self.dialogue(again),
                         b"Run-time libraries already installed at '" + root +
                         b"'. Not reinstalling.\nTo uninstall previous installation, delete "
                         b"the directories\n\"" + root + b"\\bin\" and \"" + root +
                         b"\\toolbox\".\n" + SUCCESS)
        self.assertEqual(again.stderr, b"")

    def test_answers_relative_drive_relative_absolute_and_trailing_backslash(self):
        cases = [
            ("libs\\rt", f"{self.cwd}\\libs\\rt"),
            ("C:dr", "C:dr"),  # relative to the current directory of drive C:
            ("C:\\abs\\rt", "C:\\abs\\rt"),
            ("C:\\trail\\", "C:\\trail\\"),
            ("x", f"{self.cwd}\\x"),
        ]
        for answer, target in cases:
            with self.subTest(answer=answer):
                WINE.reg_delete(r"SOFTWARE\Vurarido")
                r = self.install(answer.encode() + b"\n\n")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.dialogue(r), prompt(self.cwd) + SUCCESS)
                self.assertIn(f'cmdline=ruduvizide.exe -qq -u -d "{target}"\n',
                              self.extractor_log())
                self.assert_recorded(target)
        self.assertTrue((WINE.drive_c / "abs/rt/bin/win32").is_dir())
        self.assertTrue((WINE.drive_c / "trail/bin/win32").is_dir())
        self.assertTrue((self.work / "dr/bin/win32").is_dir())

    def test_targets_that_cannot_be_created_fail_before_the_extractor(self):
        cases = [
            ("Q:\\rt", "Q:\\rt"),  # a drive that does not exist
            ("Q:", "Q:"),
            ("/libs", "/libs"),  # forward slashes are not separators
            ('"C:\\q"', f'{self.cwd}\\"C:\\q"'),  # quoted: relative, and no valid name
            ('"plain"', f'{self.cwd}\\"plain"'),
        ]
        for answer, target in cases:
            with self.subTest(answer=answer):
                r = self.install(answer.encode() + b"\n\n")
                self.assertEqual(r.returncode, 255)
                self.assertEqual(text(r.stderr), f"Error: could not create {target}.\n".encode())
                self.assertEqual(self.dialogue(r), prompt(self.cwd) + FAILURE)
                self.assertEqual(self.extractor_log(), "")
                self.assertEqual(self.record(), "absent")

    def test_extractor_failure_is_reported_with_the_command(self):
        r = self.install(b"rt\n\n", status=7)
        self.assertEqual(r.returncode, 255)
        self.assertEqual(text(r.stderr), f"Error: could not run command 'ruduvizide.exe -qq -u -d "
                                         f"\"{self.cwd}\\rt\"'.\n".encode())
        self.assertEqual(self.dialogue(r), prompt(self.cwd) + FAILURE)
        self.assertEqual(self.record(), "absent")
        self.assertTrue((self.work / "rt").is_dir())  # created directories stay

    def test_missing_extractor_fails_and_is_not_deleted_elsewhere(self):
        r = self.install(b"rt\n\n", with_extractor=False)
        self.assertEqual(r.returncode, 255)
        self.assertIn(b"Error: could not run command 'ruduvizide.exe", r.stderr)
        self.assertEqual(self.record(), "absent")

    def test_record_that_cannot_be_stored_still_ends_successfully(self):
        r = WINE.run(ARGS.regtool, ["volatile", r"SOFTWARE\Vurarido\DodiviZevEzorOzidadi"])
        self.assertEqual(r.returncode, 0)
        r = self.install(b"rt\n\n")
        self.assertEqual(r.returncode, 0)
        dialogue = self.dialogue(r)
        self.assertTrue(dialogue.startswith(prompt(self.cwd) + b"Error: "), dialogue)
        self.assertTrue(dialogue.endswith(b"\n\n" + SUCCESS), dialogue)
        # The registry's own status is named, not an unrelated last error.
        self.assertNotIn(b"completed successfully", dialogue)
        self.assertEqual(self.record(), "absent")
        self.assertEqual(r.stderr, b"")

    def test_record_whose_library_directory_went_missing_is_overwritten(self):
        self.assertEqual(self.install(b"old\n\n").returncode, 0)
        shutil.rmtree(self.work / "old" / "bin")
        r = self.install(b"new\n\n")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(self.dialogue(r), prompt(self.cwd) + SUCCESS)
        self.assert_recorded(f"{self.cwd}\\new")

    # --- where the input or the registry is not what the dialogue expects ----

    def test_end_of_input_before_any_answer_installs_nothing(self):
        r = self.install(b"")
        self.assertEqual(r.returncode, 255)
        self.assertEqual(text(r.stderr), b"Error: the input ended before a directory was "
                                         b"entered; nothing was installed.\n")
        self.assertEqual(self.dialogue(r), prompt(self.cwd) + FAILURE)
        self.assertEqual(self.extractor_log(), "")
        self.assertEqual(self.record(), "absent")

    def test_too_long_paths_fail_before_anything_is_created(self):
        answer = "a" * 255
        r = self.install(answer.encode() + b"\n\n")
        self.assertEqual(r.returncode, 255)
        self.assertEqual(text(r.stderr), f"Error: could not create {self.cwd}\\{answer}.\n"
                                         f"The path is longer than 259 characters.\n".encode())
        self.assertEqual(sorted(p.name for p in self.work.iterdir()), [])

        r = self.install(b"C:\\" + b"b" * 400 + b"\n\n")
        self.assertEqual(r.returncode, 255)
        self.assertIn(b"longer than 259 characters; nothing was installed", r.stderr)
        self.assertFalse(any(p.name.startswith("bbb") for p in WINE.drive_c.iterdir()))
        self.assertEqual(self.record(), "absent")

    def test_percent_in_target_never_reaches_the_interpreter(self):
        r = self.install(b"%OS%\n\n")
        self.assertEqual(r.returncode, 255)
        lines = text(r.stderr).decode().splitlines()
        self.assertEqual(lines[0], f"Error: could not run command 'ruduvizide.exe -qq -u -d "
                                   f"\"{self.cwd}\\%OS%\"'.")
        self.assertIn("'%'", lines[1])
        self.assertEqual(self.extractor_log(), "")
        self.assertEqual(self.record(), "absent")
        self.assertFalse((self.work / "Windows_NT").exists())

    def test_odd_registry_values_never_count_as_installations_by_accident(self):
        (self.work / "bin" / "win32").mkdir(parents=True)
        root = self.cwd.encode()
        cases = [
            (b"", False),                  # empty: not the current drive's \bin\win32
            (b"\0", False),
            (root, True),                  # stored without its terminator
            (root + b"\0junk\0", True),    # bytes after the terminator
            (b"C:\\" + b"r" * 300, False),  # longer than a path
        ]
        for data, found in cases:
            with self.subTest(data=data[:20]):
                self.set_record(data)
                r = self.install(b"\n\n" if not found else b"")
                self.assertEqual(r.returncode, 0, r.stderr)
                if found:
                    self.assertIn(b"already installed at '" + root + b"'", r.stdout)
                else:
                    self.assertIn(prompt(self.cwd), text(r.stdout))

    def test_console_in_a_terminal_shows_the_prompt_before_the_answer(self):
        # tmux gives the installer a real terminal, and keys typed as a person
        # types them; the screen is read back as a person sees it.
        shutil.copy(ARGS.extractor, self.work / "ruduvizide.exe")
        tmux = ["tmux", "-L", f"ravozi-e2e-{os.getpid()}", "-f", "/dev/null"]
        status_file = self.work / "exit-status"
        command = f"wine '{ARGS.installer}'; echo $? > '{status_file}'; sleep 1000"
        subprocess.run(tmux + ["new-session", "-d", "-s", "installer", "-x", "100", "-y", "50", "-c",
                               str(self.work), command], env=WINE.env, check=True)

        def screen_text() -> str:
            r = subprocess.run(tmux + ["capture-pane", "-p", "-t", "installer", "-S", "-60"], env=WINE.env,
                               stdout=subprocess.PIPE, check=True)
            return r.stdout.decode("latin-1")

        def wait_for(condition, what, limit=60):
            end = time.time() + limit
            while not condition():
                self.assertLess(time.time(), end, f"{what}; screen:\n{screen_text()}")
                time.sleep(0.2)

        try:
            wait_for(lambda: f"[default: {self.cwd}]:" in screen_text(), "no prompt")
            self.assertNotIn("Finished", screen_text())
            self.assertEqual(self.extractor_log(), "")  # nothing ran before the answer
            subprocess.run(tmux + ["send-keys", "-t", "installer", "pty", "Enter"], env=WINE.env, check=True)
            wait_for(lambda: "Press Enter key to exit" in screen_text(), "no outcome")
            self.assertIn("Finished successfully.", screen_text())
            self.assertFalse(status_file.exists())  # still waiting for the key press
            subprocess.run(tmux + ["send-keys", "-t", "installer", "Enter"], env=WINE.env, check=True)
            wait_for(status_file.exists, "installer did not exit")
        finally:
            subprocess.run(tmux + ["kill-server"], env=WINE.env, stderr=subprocess.DEVNULL)
        time.sleep(0.2)
        self.assertEqual(status_file.read_text().strip(), "0")
        self.assert_recorded(f"{self.cwd}\\pty")
        self.assertFalse((self.work / "ruduvizide.exe").exists())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--extractor", required=True)
    parser.add_argument("--regtool", required=True)
    ARGS, rest = parser.parse_known_args()

    def use(wine):
        global WINE
        WINE = wine

    run_tests(use, rest)


if __name__ == "__main__":
    main()
