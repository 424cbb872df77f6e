"""What only Windows shows of the installer: the real program and extractor
under Wine, typed at in a console as a person types, under the code pages
of a German and a Japanese system, with the record read back wide from the
32-bit registry view. The native unit tests see everything else.

Usage: test_installer.py INSTALLER EXTRACTOR REGTOOL [unittest arguments]
"""

import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from winetest import run_tests  # noqa: E402

INSTALLER, EXTRACTOR, REGTOOL = sys.argv[1:4]
WINE = None


class Installer(unittest.TestCase):
    def setUp(self):
        WINE.reg_delete(r"SOFTWARE\Vurarido")
        self.work = WINE.drive_c / self.id().split(".")[-1]
        self.work.mkdir()

    def record(self) -> str:
        out = WINE.run(REGTOOL).stdout.decode().split()
        return bytes.fromhex(out[1]).decode("utf-16-le").rstrip("\0") if out[0] == "1" else out[0]

    def typed(self, lang: str, keys: str, work: Path):
        """Starts the installer in a terminal, types keys and Enter at its prompt
        and Enter at the end: its exit status and the screen before that."""
        shutil.copy(EXTRACTOR, work / "ruduvizide.exe")
        status = work.parent / "exit-status"
        status.unlink(missing_ok=True)
        tmux = ["tmux", "-u", "-L", f"ravozi-e2e-{os.getpid()}", "-f", "/dev/null"]
        screen = lambda: subprocess.run(tmux + ["capture-pane", "-p", "-J"], env=WINE.env,  # noqa: E731
                                        capture_output=True).stdout.decode()
        command = f"LANG={lang} wine '{INSTALLER}'; echo $? > '{status}'; sleep 1000"
        subprocess.run(tmux + ["new-session", "-d", "-x", "150", "-y", "50", "-c", str(work), command],
                       env=WINE.env, check=True)
        try:
            for sent, awaited in [(None, "[default: "), (["-l", keys] if keys else None, ""),
                                  (["Enter"], "Press Enter key to exit"), (["Enter"], None)]:
                shown = screen()
                if sent:
                    subprocess.run(tmux + ["send-keys", *sent], env=WINE.env, check=True)
                end = time.time() + 60
                while not (status.exists() if awaited is None else awaited in screen()):
                    self.assertLess(time.time(), end, screen())
                    time.sleep(0.2)
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
        # Redirected output keeps the ANSI code page's bytes.
        again = WINE.run(INSTALLER, cwd=work, extra_env={"LANG": "de_DE.UTF-8"})
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
        self.assertEqual(self.record(), "absent")


def use(wine):
    global WINE
    WINE = wine


if __name__ == "__main__":
    run_tests(use, sys.argv[4:])
