#!/usr/bin/env python3
"""qxaddr as a deployer runs it (QXADDR, under Wine through QXADDR_RUNNER) on a small PE file and the built
QX_EXE: exit status, output, and that only the 32-byte trailer changes. What counts as a program is unit-tested."""
import os
import pathlib
import struct
import subprocess
import tempfile
import unittest

TOOL, RUNNER, QX_EXE = (os.environ.get(n, "") for n in ("QXADDR", "QXADDR_RUNNER", "QX_EXE"))
OK, REFUSED = 0, 2


def run(*args):
    # Files rather than pipes: Wine's server would keep a pipe open after the tool has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.run(([RUNNER] if RUNNER else []) + [TOOL, *args], stdout=out, stderr=err,
                           stdin=subprocess.DEVNULL, timeout=180 if RUNNER else 30)
        out.seek(0), err.seek(0)
        text = lambda f: f.read().decode("utf-8", "replace").replace("\r\n", "\n").strip()
        return p.returncode, text(out), text(err)


def make_pe():
    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x80)
    section = struct.pack("<8sIIIIIIHHI", b".data", 1024, 0x1000, 1024, 0x80 + 64, 0, 0, 0, 0, 0xC0000040)
    return bytes(dos) + b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0, 0x0102) + section + \
        bytes(i * 7 & 0xFF for i in range(1024)) + bytes(32)


class QxaddrTest(unittest.TestCase):
    def test_writing_showing_and_refusing(self):
        gbk = "更新.example:8080"
        # (arguments, status, stdout, stderr fragment, trailer or None for "as it was")
        steps = [(["x" * 31], OK, "x" * 31, "", b"x" * 31),
                 ([gbk], OK, gbk, "", gbk.encode("gbk")),
                 ([], OK, gbk, "", None),
                 (["b" * 32], REFUSED, "", "qxaddr: refused", None),
                 (["\U0001F600.example"], REFUSED, "", "qxaddr: refused", None),
                 ([""], OK, "(none: 127.0.0.1)", "", b"")]
        for data in [make_pe()] + ([pathlib.Path(QX_EXE).read_bytes()] if QX_EXE else []):
            path = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()), "QXUpdate.exe")
            path.write_bytes(data)
            for args, status, out, err, trailer in steps:
                before = path.read_bytes()
                code, got_out, got_err = run(("Z:" + str(path).replace("/", "\\")) if RUNNER else str(path), *args)
                after = path.read_bytes()
                with self.subTest(args=args, exe=len(data)):
                    self.assertEqual((code, got_out), (status, out), got_err)
                    self.assertIn(err, got_err)
                    self.assertEqual(after[:-32], before[:-32], "a byte before the trailer changed")
                    self.assertEqual(after[-32:], before[-32:] if trailer is None else trailer.ljust(32, b"\0"))


if __name__ == "__main__":
    if not os.path.isfile(TOOL) or (RUNNER and not os.path.isfile(QX_EXE)):
        raise SystemExit(f"QXADDR must name qxaddr, and QX_EXE the built program under Wine (got {TOOL!r}, {QX_EXE!r})")
    unittest.main(verbosity=2)
