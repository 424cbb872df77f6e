"""What only Windows can show about the installer: the real program under
Wine with the real extractor, typed at in a console as a person types, with
the code pages of a German and a Japanese system, the registry's 32-bit view
and cmd.exe. Everything else is seen by the native unit tests.

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
from winetest import run_tests  # noqa: E402

ARGS = None
WINE = None


class Installer(unittest.TestCase):
    def setUp(self):
        WINE.reg_delete(r"SOFTWARE\Vurarido")
        self.work = WINE.drive_c / self.id().split(".")[-1]
        self.work.mkdir()

    def record(self) -> str:
        out = WINE.run(ARGS.regtool).stdout.decode().split()
        self.assertEqual(out[0], "1")  # REG_SZ, as the wide call reads it
        return bytes.fromhex(out[1]).decode("utf-16-le").rstrip("\0")

    def typed(self, lang: str, keys: str, work: Path):
        """Runs the installer in a terminal, types keys and Enter at its
        prompt and presses Enter at the end: its exit status and the screen."""
        shutil.copy(ARGS.extractor, work / "ruduvizide.exe")
        tmux = ["tmux", "-u", "-L", f"ravozi-e2e-{os.getpid()}", "-f", "/dev/null"]
        status = work.parent / "exit-status"
        status.unlink(missing_ok=True)
        command = f"LANG={lang} wine '{ARGS.installer}'; echo $? > '{status}'; sleep 1000"
        subprocess.run(tmux + ["new-session", "-d", "-x", "150", "-y", "50", "-c", str(work),
                               command], env=WINE.env, check=True)

        def screen() -> str:
            return subprocess.run(tmux + ["capture-pane", "-p", "-J", "-S", "-60"], env=WINE.env,
                                  stdout=subprocess.PIPE, check=True).stdout.decode()

        def wait_for(condition, what):
            end = time.time() + 60
            while not condition():
                self.assertLess(time.time(), end, f"{what}; screen:\n{screen()}")
                time.sleep(0.2)

        try:
            wait_for(lambda: "[default: " in screen(), "no prompt")
            if keys:
                subprocess.run(tmux + ["send-keys", "-l", keys], env=WINE.env, check=True)
            subprocess.run(tmux + ["send-keys", "Enter"], env=WINE.env, check=True)
            wait_for(lambda: "Press Enter key to exit" in screen(), "no outcome")
            shown = screen()
            subprocess.run(tmux + ["send-keys", "Enter"], env=WINE.env, check=True)
            wait_for(status.exists, "the installer did not exit")
            time.sleep(0.2)
            return int(status.read_text()), shown
        finally:
            subprocess.run(tmux + ["kill-server"], env=WINE.env, stderr=subprocess.DEVNULL)

    def test_typed_letters_land_and_are_recorded_as_typed(self):
        status, shown = self.typed("de_DE.UTF-8", "Bibliothèken", self.work)
        self.assertEqual(status, 0, shown)
        self.assertEqual(os.listdir(self.work), ["Bibliothèken"])
        self.assertTrue((self.work / "Bibliothèken" / "bin" / "win32").is_dir())
        self.assertEqual(self.record(), f"C:\\{self.work.name}\\Bibliothèken")

    def test_default_with_letters_is_shown_and_taken_then_found(self):
        work = WINE.drive_c / "Müller-Ærø"
        work.mkdir()
        status, shown = self.typed("de_DE.UTF-8", "", work)
        self.assertEqual(status, 0, shown)
        self.assertIn("[default: C:\\Müller-Ærø]:", shown)
        self.assertTrue((work / "bin" / "win32").is_dir())
        self.assertEqual(self.record(), "C:\\Müller-Ærø")
        # Redirected output stays in the ANSI code page, byte for byte.
        again = WINE.run(ARGS.installer, cwd=work, extra_env={"LANG": "de_DE.UTF-8"})
        self.assertIn("already installed at 'C:\\Müller-Ærø'".encode("cp1252"), again.stdout)

    def test_double_byte_answer_makes_exactly_its_directories(self):
        status, shown = self.typed("ja_JP.UTF-8", "ソフト\\lib", self.work)
        self.assertEqual(status, 0, shown)
        self.assertEqual(os.listdir(self.work), ["ソフト"])
        self.assertEqual(os.listdir(self.work / "ソフト"), ["lib"])
        self.assertTrue((self.work / "ソフト" / "lib" / "bin" / "win32").is_dir())
        self.assertEqual(self.record(), f"C:\\{self.work.name}\\ソフト\\lib")

    def test_letters_the_code_page_cannot_hold_are_refused(self):
        status, shown = self.typed("de_DE.UTF-8", "文档", self.work)
        self.assertEqual(status, 255, shown)
        self.assertIn("code page for file names cannot hold; nothing was installed.", shown)
        self.assertEqual(os.listdir(self.work), [])
        self.assertEqual(WINE.run(ARGS.regtool).stdout.strip(), b"absent")

    def test_partial_answers_are_recorded_as_the_full_paths_they_name(self):
        # (Wine takes "/x" as a Unix path on Z:, unlike Windows: not tried here.)
        for answer, target in [("\\rooted", "C:\\rooted"), ("C:rel", f"C:\\{self.work.name}\\rel")]:
            with self.subTest(answer=answer):
                WINE.reg_delete(r"SOFTWARE\Vurarido")
                shutil.copy(ARGS.extractor, self.work / "ruduvizide.exe")
                r = WINE.run(ARGS.installer, cwd=self.work, stdin=answer.encode() + b"\n\n")
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.record(), target)
                path = WINE.drive_c / target[3:].replace("\\", "/")
                self.assertTrue((path / "bin" / "win32").is_dir())


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
