"""A release signed with a certificate made on the spot: the signatures verify,
the signed extractor unpacks exactly the payload under Wine, and they cover
the appended archive.  Usage: signing_test.py --bin-dir BUILD/bin --source-dir SRC"""
import argparse, subprocess, sys, tempfile, unittest
from pathlib import Path

ARGS, WINE = None, None


def ok(*cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def tree(root):
    return {p.relative_to(root).as_posix(): p.is_file() and p.read_bytes() for p in root.rglob("*")}


class SignedRelease(unittest.TestCase):
    def test_signed_files_verify_unpack_and_cover_the_archive(self):
        out, payload = Path(tempfile.mkdtemp(dir=WINE.drive_c)), ARGS.source_dir / "payload" / "sample"
        cert, key, exe, stub = out / "c.pem", out / "k.pem", out / "ruduvizide.exe", ARGS.bin_dir / "ruduvizide-stub.exe"
        self.assertTrue(ok("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                           "-subj", "/CN=Throwaway", "-keyout", key, "-out", cert))
        self.assertTrue(ok(ARGS.source_dir / "scripts" / "package-libs", "--sign", cert, key, payload, exe, stub))
        for f in (exe, out / "ravozi-rt-installer.exe"):
            self.assertTrue(ok("osslsigncode", "verify", "-CAfile", cert, "-in", f), f)
        self.assertTrue(ok("sha256sum", "-c", "SHA256SUMS", cwd=out))

        r = WINE.run(exe, ["-qq", "-d", "C:\\" + str((out / "t").relative_to(WINE.drive_c)).replace("/", "\\")])
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        self.assertEqual(tree(out / "t"), tree(payload))

        data = bytearray(exe.read_bytes())
        data[stub.stat().st_size + 40] ^= 1  # in the first entry's name
        exe.write_bytes(data)
        self.assertFalse(ok("osslsigncode", "verify", "-CAfile", cert, "-in", exe))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    ARGS, rest = parser.parse_known_args()
    sys.path.insert(0, str(ARGS.source_dir / "tests" / "e2e"))
    from winetest import run_tests
    run_tests(lambda w: globals().update(WINE=w), rest)
