"""What only Windows shows of the installer: the real program and extractor under Wine, typed
at in a console under German and Japanese code pages, the record read back wide from the 32-bit
registry view. Usage: test_installer.py INSTALLER EXTRACTOR RECORDER [unittest arguments]"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from winetest import RECORD_KEY, run_tests  # noqa: E402

INSTALLER, EXTRACTOR, RECORDER = sys.argv[1:4]
ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "payload" / "sample"
WINE = None


def files(root: Path) -> dict:
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


class Installer(unittest.TestCase):
    def record(self) -> str:
        """The record as regedit reads it (wide calls) from the 32-bit view: a REG_SZ, or absent."""
        exported = WINE.drive_c / "record.reg"
        exported.unlink(missing_ok=True)
        wow_key = "HKEY_LOCAL_MACHINE\\" + RECORD_KEY.replace("\\", "\\Wow6432Node\\", 1)
        WINE.run("regedit", ["/E", "C:\\record.reg", wow_key])
        found = exported.exists() and re.search('"InstallDir"="(.*)"', exported.read_text("utf-16"))
        return found.group(1).replace("\\\\", "\\") if found else "absent"

    def typed(self, lang: str, keys: str, work: Path):
        """Types keys and Enter at the prompt, Enter at the end: the exit status, the screen."""
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

    def test_typed_and_shown_letters_mean_the_same_place_to_tree_extractor_and_record(self):
        cases = [  # LANG, current directory, typed, where it lands below it (None: refused), shown
            ("de_DE.UTF-8", "typed", "Bibliothèken", "Bibliothèken", "Finished successfully"),
            ("ja_JP.UTF-8", "double", "ソフト\\lib", "ソフト\\lib", "Finished successfully"),
            ("de_DE.UTF-8", "unheld", "文档", None, "code page for file names cannot hold; nothing"),
            ("de_DE.UTF-8", "Müller-Ærø", "", "", "[default: C:\\Müller-Ærø]:"),
        ]
        for lang, folder, keys, target, shown in cases:
            with self.subTest(keys=keys or folder):
                WINE.forget_record()
                (WINE.drive_c / folder).mkdir()
                status, screen = self.typed(lang, keys, WINE.drive_c / folder)
                self.assertIn(shown, screen)
                self.assertEqual(status, 255 if target is None else 0, screen)
                made = sorted(str(p.relative_to(WINE.drive_c / folder)) for p in (WINE.drive_c / folder).rglob("*")
                              if not {"bin", "toolbox", "readme.txt"} & set(p.parts))
                parts = target.split("\\") if target else []
                self.assertEqual(made, ["/".join(parts[:n]) for n in range(1, len(parts) + 1)])
                where = "\\".join(filter(None, ["C:", folder, target]))
                self.assertEqual(self.record(), "absent" if target is None else where)
                if target is not None:
                    self.assertTrue((WINE.drive_c / folder / target.replace("\\", "/") / "bin/win32").is_dir())
        # The last one stays recorded; redirected output keeps the ANSI code page's bytes.
        again = WINE.run(INSTALLER, cwd=WINE.drive_c / "Müller-Ærø", extra_env={"LANG": "de_DE.UTF-8"})
        self.assertIn("already installed at 'C:\\Müller-Ærø'".encode("cp1252"), again.stdout)

    def test_piped_answers_take_one_spelling_and_devices_and_payloads_one_level_off_are_refused(self):
        work = WINE.drive_c / "piped"
        work.mkdir()
        # The sample packed from its bin folder: win32\ at the top, so no bin\win32 below the target.
        off, stub = work / "off.exe", Path(INSTALLER).parent / "ruduvizide-stub.exe"
        packed = subprocess.run([ROOT / "scripts/package-libs", SAMPLE / "bin", off, stub], capture_output=True)
        self.assertEqual((packed.returncode, b"holds no bin/win32" in packed.stderr, off.exists()), (1, True, False))
        subprocess.run(["cmake", f"-DFOLDER={SAMPLE / 'bin'}", f"-DSTUB={stub}", f"-DOUTPUT={off}", "-P",
                        ROOT / "cmake/ruduvizide.cmake"], check=True, capture_output=True)
        cases = [  # the answer in the ANSI code page, where it is recorded (None: refused)
            (b"C:\\rt", "C:\\rt"), (b"\\rt2", "C:\\rt2"), (b"C:dr", "C:\\piped\\dr"),
            (b"C:/new/./a/../b/", "C:\\new\\b"), (b"C:\\Biblioth\xe8que", "C:\\Bibliothèque"),
            (b"\\\\.\\C:\\x", None), (b"C:\\x\\nul", None), (b"C:\\x.", None), (b"C:\\x\\COM1\\y", None),
            (b"C:\\off", None, off),
        ]
        for answer, where, *extractor in cases:
            with self.subTest(answer=answer):
                WINE.forget_record()
                shutil.copy(extractor[0] if extractor else EXTRACTOR, work / "ruduvizide.exe")
                r = WINE.run(INSTALLER, cwd=work, stdin=answer + b"\n\n")
                self.assertEqual((r.returncode, self.record()), (0, where) if where else (255, "absent"), r.stderr)
                if where:
                    self.assertEqual(files(WINE.drive_c / where[3:].replace("\\", "/")), files(SAMPLE))
        self.assertEqual(((WINE.drive_c / "x").exists(), (WINE.drive_c / "off/win32").is_dir()), (False, True))
        # A current directory the code page cannot hold is none: no look-alike (C:\work\Lukasz, or C:\elsewhere
        # through fullwidth backslashes) is the default; a full path still works.
        for folder, answer, where in [("work/Łukasz", b"", None), ("pkg＼..＼..＼elsewhere", b"", None),
                                      ("work/Łukasz", b"C:\\rt3", "C:\\rt3")]:
            with self.subTest(folder=folder, answer=answer):
                WINE.forget_record()
                (WINE.drive_c / folder).mkdir(parents=True, exist_ok=True)
                shutil.copy(EXTRACTOR, WINE.drive_c / folder / "ruduvizide.exe")
                r = WINE.run(INSTALLER, cwd=WINE.drive_c / folder, stdin=answer + b"\n\n", extra_env={"LANG": "de_DE.UTF-8"})
                self.assertEqual((r.returncode, self.record()), (0, where) if where else (255, "absent"), r.stderr)
        self.assertFalse(any((WINE.drive_c / p).exists() for p in ("work/Lukasz", "elsewhere", "work/Łukasz/bin")))
        # A REG_EXPAND_SZ record is its text: %SystemDrive%\rt is no full path, so no installation.
        WINE.quiet("wine", "reg", "add", "HKLM\\" + RECORD_KEY, "/v", "InstallDir", "/t", "REG_EXPAND_SZ",
                   "/d", "%SystemDrive%\\rt", "/f", "/reg:32")
        self.assertNotIn(b"already installed", WINE.run(INSTALLER, cwd=work, stdin=b"").stdout)

    def test_the_interpreter_is_the_systems_cmd_told_v_off_never_one_planted_here(self):
        work = WINE.drive_c / "plant"
        work.mkdir()
        shutil.copy(INSTALLER, work / "setup.exe")
        shutil.copy(RECORDER, work / "cmd.exe")
        # Unset, or joined onto the system directory to leave it: the system's; else the recorder, as cmd.exe.
        for comspec in ("", "..\\..\\plant\\cmd.exe", "C:\\plant\\cmd.exe", "C:\\plant\\cmd.exe.",
                        '"C:\\plant\\cmd.exe"'):
            WINE.forget_record()
            shutil.copy(EXTRACTOR, work / "ruduvizide.exe")
            (work / "run.bat").write_text(f"@set COMSPEC={comspec}\r\n@setup.exe\r\n")
            r = WINE.run("C:\\windows\\system32\\cmd.exe", ["/c", "C:\\plant\\run.bat"], cwd=work, stdin=b"\n\n")
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(files(work / "bin"), files(SAMPLE / "bin"))
        self.assertEqual((work / "recorded.txt").read_text().splitlines(),
                         [f'C:\\plant\\cmd.exe{dot} /d /v:off /c .\\ruduvizide.exe -qq -u -d "C:\\plant"'
                          for dot in ("", ".", "")])


def use(wine):
    global WINE
    WINE = wine


if __name__ == "__main__":
    run_tests(use, sys.argv[4:])
