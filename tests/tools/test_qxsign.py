#!/usr/bin/env python3
"""qxsign's command line as a publisher runs it (QXSIGN; the Windows tool through QXSIGN_RUNNER under Wine). Keys,
signatures, pins and the updater's verdict are for the unit tests."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

TOOL, RUNNER, SOURCE_DIR, QX_EXE, NATIVE = (os.environ.get(n, "") for n in (
    "QXSIGN", "QXSIGN_RUNNER", "QX_SOURCE_DIR", "QX_EXE", "QXSIGN_NATIVE"))
OK, FAILED, REFUSED, NOT_ALL = 0, 1, 2, 3


def run(args, tool=None):
    # Files rather than pipes: Wine's server would keep a pipe open after the tool has ended.
    wine = RUNNER and tool is None
    args = [("Z:" + a.replace("/", "\\")) if wine and a.startswith("/") else a for a in args]
    with tempfile.TemporaryFile() as out:
        p = subprocess.run(([RUNNER] if wine else []) + [tool or TOOL, *args], stdout=out, stderr=out,
                           stdin=subprocess.DEVNULL, timeout=180 if wine else 30)
        out.seek(0)
        return p.returncode, out.read().decode("utf-8", "replace").replace("\r\n", "\n")


def make_pe(marker):
    # The least the tool takes for an updater: a section ending in the key marker, the key's room, the trailer.
    body = bytes(1024 - 8) + (b"QXSIGKEY" if marker else bytes(8))
    section = struct.pack("<8sIIIIIIHHI", b".data", 1024, 0x1000, 1024, 0x80 + 64, 0, 0, 0, 0, 0xC0000040)
    header = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0, 0x0102)
    dos = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x80) + bytes(0x40)
    return dos + b"PE\0\0" + header + section + body + bytes(72) + b"10.1.2.3".ljust(32, b"\0")


class QxsignTest(unittest.TestCase):
    def setUp(self):
        self.dir = Path(self.enterContext(tempfile.TemporaryDirectory()))
        self.server = shutil.copytree(Path(SOURCE_DIR, "samples", "update"), self.dir / "update")
        self.script = self.server / "qxupdate" / "update.inf"
        self.key, self.public = self.dir / "publisher.pem", self.dir / "publisher.pub.pem"

    def steps(self, rows, tool=None):
        """Runs (arguments, status, output fragment, file that must stay as it was or None) in turn."""
        for args, status, fragment, kept in rows:
            before = kept and kept.read_bytes()
            code, output = run([str(a) for a in args], tool)
            self.assertEqual(code, status, f"{args}: {output}")
            self.assertIn(fragment, output)
            self.assertEqual(kept and kept.read_bytes(), before, f"{kept} changed")

    def test_readme_round_trip(self):
        exe = self.dir / "QXUpdate.exe"
        exe.write_bytes(Path(QX_EXE).read_bytes() if RUNNER else make_pe(True))
        self.steps([
            (["keygen", self.key], OK, "publisher.pub.pem", None),
            (["stamp", exe, self.public], OK, "now carries key", None),
            (["pin", self.script, self.server], OK, "3 lines pinned", None),
            (["sign", self.key, self.script], OK, "update.inf.sig: signed with key", None),
            (["verify", exe, self.script], OK, "the signature is good", None),
        ])
        if RUNNER:  # The Linux tool reads the key and the signature the Windows tool made.
            self.steps([(["verify", self.public, self.script], OK, "the signature is good", None)], tool=NATIVE)
        self.script.write_bytes(self.script.read_bytes().replace(b"2026", b"2027", 1))
        self.steps([(["verify", exe, self.script], NOT_ALL, "does not match the script", None)])

    @unittest.skipIf(RUNNER, "the Linux tool")
    def test_refusals_leave_files_as_they_were(self):
        plain = self.dir / "plain.exe"
        plain.write_bytes(make_pe(False))
        # Its temporary name is too long to make, so the write fails before the old signature is touched.
        long_script = shutil.copy(self.script, self.dir / ("s" * 246 + ".inf"))
        old_signature = self.dir / (long_script.name + ".sig")
        old_signature.write_bytes(b"old")
        self.steps([
            (["keygen", self.key], OK, "", None),
            (["keygen", self.key], REFUSED, "never overwritten", self.key),
            (["stamp", plain, self.key], REFUSED, "built without signed updates", plain),
            (["sign", self.key, long_script], FAILED, "cannot write", old_signature),
        ])
        self.assertEqual(self.key.stat().st_mode & 0o777, 0o600)
        self.assertEqual({p.name for p in self.dir.iterdir()}, {self.server.name, plain.name, self.key.name,
                         self.public.name, long_script.name, old_signature.name}, "a temporary file was left")


if __name__ == "__main__":
    unittest.main(verbosity=2)
