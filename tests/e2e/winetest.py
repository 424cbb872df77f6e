"""Running the real Windows programs under Wine, for the end-to-end tests.

One WinePrefix is a throwaway Wine installation in a temporary folder with
its own persistent wineserver: without that server every `wine` call starts
one of its own, which holds captured output pipes open for seconds after the
program ends.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

RECORD_KEY = r"SOFTWARE\Vurarido\DodiviZevEzorOzidadi\6.0"
RECORD_VALUE = "InstallDir"


class WinePrefix:
    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="ravozi-wine-"))
        self.env = dict(os.environ)
        self.env.update(
            WINEPREFIX=str(self.root / "prefix"),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            WINEARCH="win64",
        )
        # A display would let Wine open windows; the tests want a console only.
        self.env.pop("DISPLAY", None)

    def __enter__(self):
        # The persistent server first, so that wineboot and every later call
        # share it.
        Path(self.env["WINEPREFIX"]).mkdir()
        subprocess.run(["wineserver", "-p"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def drive_c(self) -> Path:
        return Path(self.env["WINEPREFIX"]) / "drive_c"

    def winpath(self, path) -> str:
        """The Windows spelling of a Linux path: C:\\... inside drive_c, else Z:\\..."""
        path = Path(path).resolve()
        try:
            rel = path.relative_to(self.drive_c.resolve())
            return "C:\\" + "\\".join(rel.parts)
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def run(self, exe, args=(), cwd=None, stdin=b"", timeout=120, extra_env=None):
        """Runs a Windows program; stdout and stderr come back as bytes."""
        env = dict(self.env)
        if extra_env:
            env.update(extra_env)
        return subprocess.run(["wine", str(exe), *args], cwd=cwd, env=env, input=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def reg_delete(self, key):
        """Deletes HKLM\\key in the 32-bit view, if it is there."""
        subprocess.run(["wine", "reg", "delete", "HKLM\\" + key, "/f", "/reg:32"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def reg_query(self, key, value):
        """`reg query` of one value in the 32-bit view: its output text, or None."""
        r = subprocess.run(["wine", "reg", "query", "HKLM\\" + key, "/v", value, "/reg:32"],
                           env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           timeout=60)
        return r.stdout.decode("latin-1") if r.returncode == 0 else None


def run_tests(use_prefix, argv_rest):
    """Runs the calling script's unittest cases against one new WinePrefix,
    handed to use_prefix first, and exits with their verdict."""
    with WinePrefix() as wine:
        use_prefix(wine)
        result = unittest.main(argv=[sys.argv[0], "-v", *argv_rest], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
