#!/usr/bin/env python3
"""qxaddr as a deployer runs it (QXADDR, through QXADDR_RUNNER under Wine), on a small PE file and on the
built QXUpdate.exe (QX_EXE): exit status, what it prints, and that only the 32-byte trailer ever changes.
Which files count as programs and how the trailer is read are for the unit tests."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL, RUNNER, QX_EXE = (os.environ.get(n, "") for n in ("QXADDR", "QXADDR_RUNNER", "QX_EXE"))
NONE = "(none: 127.0.0.1)"
OK, FAILED, REFUSED = 0, 1, 2


def run(*args):
    # Files rather than pipes: Wine's server would keep a pipe open after the tool has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.run(([RUNNER] if RUNNER else []) + [TOOL, *args], stdout=out, stderr=err,
                           stdin=subprocess.DEVNULL, timeout=180 if RUNNER else 30)
        out.seek(0), err.seek(0)
        text = lambda f: f.read().decode("utf-8", "replace").replace("\r\n", "\n").strip()
        return p.returncode, text(out), text(err)


def make_pe(section_to_end=False):
    """MZ header, PE signature, one section, a body and an empty trailer; with section_to_end the
    section runs to the last byte, as in a program built without a trailer."""
    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x80)
    raw = 1024 + (32 if section_to_end else 0)
    section = struct.pack("<8sIIIIIIHHI", b".data", raw, 0x1000, raw, 0x80 + 64, 0, 0, 0, 0, 0xC0000040)
    return bytes(dos) + b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0, 0x0102) + section + \
        bytes(i * 7 & 0xFF for i in range(1024)) + bytes(32)


class QxaddrTest(unittest.TestCase):
    def file(self, data):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, "QXUpdate.exe")
        with open(path, "wb") as f:
            f.write(data)
        return path, ("Z:" + path.replace("/", "\\")) if RUNNER else path

    def check(self, data, steps):
        """Runs (arguments, status, stdout, stderr fragment, trailer or None) in turn on one copy of
        data; None means the file is as it was before the step."""
        path, arg = self.file(data)
        for args, status, out, err, trailer in steps:
            with open(path, "rb") as f:
                before = f.read()
            code, got_out, got_err = run(*[arg if a == "FILE" else a for a in args])
            with open(path, "rb") as f:
                after = f.read()
            with self.subTest(args=args):
                self.assertEqual((code, got_out), (status, out), got_err)
                self.assertIn(err, got_err)
                self.assertEqual(after[:-32], before[:-32], "a byte before the trailer changed")
                self.assertEqual(after[-32:], before[-32:] if trailer is None else trailer.ljust(32, b"\0"))

    def test_writing_showing_and_refusing(self):
        gbk = "更新.example:8080"
        steps = [
            (["FILE"], OK, NONE, "", None),
            (["FILE", "a" * 31], OK, "a" * 31, "", b"a" * 31),
            (["FILE", gbk], OK, gbk, "", gbk.encode("gbk")),
            (["FILE"], OK, gbk, "", None),
            (["FILE", "b" * 32], REFUSED, "", "qxaddr: refused", None),
            (["FILE", "\U0001F600.example"], REFUSED, "", "qxaddr: refused", None),
            (["FILE", "x", "extra"], REFUSED, "", "usage:", None),
            (["FILE", "café.example", "--codepage", "1252"], OK, "café.example", "", b"caf\xe9.example"),
            (["FILE", ""], OK, NONE, "", b""),
        ]
        self.check(make_pe(), steps)
        if QX_EXE:
            with open(QX_EXE, "rb") as f:
                self.check(f.read(), steps[:3] + steps[-1:])

    def test_files_that_are_not_programs_with_a_trailer(self):
        for data, status, fragment in ((b"0123456789", REFUSED, "10 bytes long"),
                                       (b"10.1.2.3 is the server\n" * 20, REFUSED, "qxaddr: refused"),
                                       (make_pe(section_to_end=True), REFUSED, "qxaddr: refused"),
                                       (make_pe()[:-32] + b"h" * 32, OK, "without a terminating NUL")):
            args = ["FILE", "10.1.2.3"] if status == REFUSED else ["FILE"]
            self.check(data, [(args, status, "" if status == REFUSED else NONE, fragment, None)])

    def test_missing_file(self):
        missing = os.path.join(tempfile.gettempdir(), "qxaddr-missing-%d.exe" % os.getpid())
        self.assertEqual(run(("Z:" + missing.replace("/", "\\")) if RUNNER else missing, "1.2.3.4")[0], FAILED)
        self.assertFalse(os.path.exists(missing), "the tool created the file")


if __name__ == "__main__":
    if not os.path.isfile(TOOL) or (RUNNER and not os.path.isfile(QX_EXE)):
        sys.exit(f"QXADDR must name qxaddr, and QX_EXE the built program under Wine (got {TOOL!r}, {QX_EXE!r})")
    unittest.main(verbosity=2)
