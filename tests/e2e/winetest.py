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


class WinePrefix:
    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="ravozi-wine-"))
        self.env = dict(os.environ, WINEPREFIX=str(self.root / "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        # A display would let Wine open windows; the tests want a console only.
        self.env.pop("DISPLAY", None)
        self.drive_c = self.root / "prefix" / "drive_c"

    def server(self, *args):
        subprocess.run(["wineserver", *args], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def __enter__(self):
        # The persistent server first, so that wineboot and every later call
        # share it.
        Path(self.env["WINEPREFIX"]).mkdir()
        self.server("-p")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        return self

    def __exit__(self, *exc):
        self.server("-k")
        self.server("-w")
        shutil.rmtree(self.root, ignore_errors=True)

    def run(self, exe, args=(), cwd=None, stdin=b"", timeout=120, extra_env=None):
        """Runs a Windows program; stdout and stderr come back as bytes."""
        return subprocess.run(["wine", str(exe), *args], cwd=cwd, env=dict(self.env, **(extra_env or {})),
                              input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout)

    def reg_delete(self, key):
        """Deletes HKLM\\key in the 32-bit view, if it is there."""
        subprocess.run(["wine", "reg", "delete", "HKLM\\" + key, "/f", "/reg:32"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def run_tests(use_prefix, argv_rest):
    """Runs the calling script's unittest cases against one new WinePrefix,
    handed to use_prefix first, and exits with their verdict."""
    with WinePrefix() as wine:
        use_prefix(wine)
        result = unittest.main(argv=[sys.argv[0], "-v", *argv_rest], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
