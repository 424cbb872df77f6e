"""The end-to-end tests' Wine: a WinePrefix is a throwaway installation with a persistent
wineserver (without one, each `wine` starts a server that holds output pipes open for seconds)."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

# The installation record's key below HKEY_LOCAL_MACHINE, in the 32-bit view (installer/record.h).
RECORD_KEY = r"SOFTWARE\Vurarido\DodiviZevEzorOzidadi\6.0"


class WinePrefix:
    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="ravozi-wine-"))
        self.env = dict(os.environ, WINEPREFIX=str(self.root / "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        self.env.pop("DISPLAY", None)  # a console only, no windows
        self.drive_c = self.root / "prefix" / "drive_c"

    def quiet(self, *command, timeout=60):
        subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=timeout)

    def __enter__(self):  # the persistent server first, for wineboot and every later call
        Path(self.env["WINEPREFIX"]).mkdir()
        self.quiet("wineserver", "-p")
        self.quiet("wineboot", "-i", timeout=300)
        return self

    def __exit__(self, *exc):
        self.quiet("wineserver", "-k")
        self.quiet("wineserver", "-w")
        shutil.rmtree(self.root, ignore_errors=True)

    def run(self, exe, args=(), cwd=None, stdin=b"", timeout=120, extra_env=None):
        return subprocess.run(["wine", str(exe), *args], cwd=cwd, input=stdin, capture_output=True,
                              env=dict(self.env, **(extra_env or {})), timeout=timeout)

    def forget_record(self):
        """Deletes the installation record's key, if it is there."""
        self.quiet("wine", "reg", "delete", "HKLM\\" + RECORD_KEY, "/f", "/reg:32")


def run_tests(use_prefix, argv_rest):
    """Runs the calling script's unittest cases against one new WinePrefix,
    handed to use_prefix first, and exits with their verdict."""
    with WinePrefix() as wine:
        use_prefix(wine)
        result = unittest.main(argv=[sys.argv[0], "-v", *argv_rest], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
