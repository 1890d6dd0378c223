#!/usr/bin/env python3
"""The deployer's tool qxaddr, run as a deployer would run it.

Environment:
  QXADDR         the qxaddr program to test (required)
  QXADDR_RUNNER  a command that runs it, e.g. the Wine runner for the Windows build
  QX_EXE         a built QXUpdate.exe to test on as well (required under Wine)

Every case works on a copy in a temporary folder and checks, besides what the
tool prints, the bytes of the file: a refusal leaves it byte-identical, a
write changes its last 32 bytes and nothing else.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.environ.get("QXADDR", "")
RUNNER = os.environ.get("QXADDR_RUNNER", "")
QX_EXE = os.environ.get("QX_EXE", "")
UNDER_WINE = bool(RUNNER)
# Wine starts slowly, the more so the first time in a prefix.
TIME_LIMIT = 180 if UNDER_WINE else 30
NONE = "(none: 127.0.0.1)"

OK, FAILED, REFUSED = 0, 1, 2


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tool_path(path):
    """A file path as the program under test takes it."""
    if UNDER_WINE:
        # Wine's drive Z: is the Linux root.
        return "Z:" + os.path.abspath(path).replace("/", "\\")
    return path


def run(*args):
    cmd = ([RUNNER] if RUNNER else []) + [TOOL] + list(args)
    # Files rather than pipes: a helper process the runner leaves behind
    # (Wine's server) would keep a pipe open long after the tool has ended.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        p = subprocess.run(cmd, stdout=out_file, stderr=err_file, timeout=TIME_LIMIT, stdin=subprocess.DEVNULL)
        out_file.seek(0)
        err_file.seek(0)
        out = out_file.read().decode("utf-8", "replace").replace("\r\n", "\n")
        err = err_file.read().decode("utf-8", "replace").replace("\r\n", "\n")
    return p.returncode, out, err


def make_pe(body_size=1024, trailer=bytes(32), section_to_end=False):
    """A small file that passes for a PE program: MZ header, PE signature,
    one section, a body and a trailer. With section_to_end the section runs
    to the last byte, as in a program built without a trailer."""
    lfanew = 0x80
    dos = bytearray(lfanew)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, lfanew)
    headers_end = lfanew + 24 + 40
    total = headers_end + body_size + len(trailer)
    raw_size = total - headers_end if section_to_end else body_size
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0, 0x0102)
    section = struct.pack("<8sIIIIIIHHI", b".data", raw_size, 0x1000, raw_size, headers_end, 0, 0, 0, 0,
                          0xC0000040)
    body = bytes((i * 7 + 3) & 0xFF for i in range(body_size))
    return bytes(dos) + b"PE\0\0" + coff + section + body + trailer


class ToolCases:
    """Cases that hold for any program file with a trailer, mixed into a
    test class that says which file is copied (source_bytes)."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qxaddr-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.exe = os.path.join(self.dir, "QXUpdate.exe")
        with open(self.exe, "wb") as f:
            f.write(self.source_bytes())
        self.original = read(self.exe)

    def write(self, address, *options):
        return run(tool_path(self.exe), address, *options)

    def show(self, *options):
        return run(tool_path(self.exe), *options)

    def assert_only_trailer_is(self, expected_trailer):
        after = read(self.exe)
        self.assertEqual(len(after), len(self.original), "the file changed its length")
        self.assertEqual(after[:-32], self.original[:-32], "a byte before the trailer changed")
        self.assertEqual(after[-32:], expected_trailer)

    def assert_refused(self, path, result, why):
        code, out, err = result
        self.assertEqual(code, REFUSED, f"{why}: exit status {code}, stdout {out!r}, stderr {err!r}")
        self.assertIn("qxaddr:", err, f"{why}: no message on stderr")
        self.assertEqual(out.strip(), "", f"{why}: something on stdout")

    def test_fresh_build_has_no_address(self):
        self.assertEqual(self.original[-32:], bytes(32), "the program was not built with an empty trailer")
        code, out, err = self.show()
        self.assertEqual((code, out.strip()), (OK, NONE), err)

    def test_address_round_trips_and_only_the_trailer_changes(self):
        cases = [
            ("10.1.2.3", b"10.1.2.3"),
            ("update.example.com:8080", b"update.example.com:8080"),
            ("a" * 31, b"a" * 31),
            ("更新.example:8080", "更新.example:8080".encode("gbk")),
        ]
        for address, ansi in cases:
            with self.subTest(address=address):
                code, out, err = self.write(address)
                self.assertEqual(code, OK, err)
                self.assertEqual(out.strip(), address)
                self.assert_only_trailer_is(ansi + bytes(32 - len(ansi)))
                code, out, err = self.show()
                self.assertEqual((code, out.strip()), (OK, address), err)

    def test_empty_address_clears_the_trailer(self):
        self.assertEqual(self.write("10.1.2.3")[0], OK)
        code, out, err = self.write("")
        self.assertEqual((code, out.strip()), (OK, NONE), err)
        self.assert_only_trailer_is(bytes(32))

    def test_other_code_page(self):
        code, out, err = self.write("café.example", "--codepage", "1252")
        self.assertEqual(code, OK, err)
        self.assert_only_trailer_is(b"caf\xe9.example" + bytes(20))
        code, out, err = self.show("--codepage=1252")
        self.assertEqual((code, out.strip()), (OK, "café.example"), err)

    def test_refusals_leave_the_file_byte_identical(self):
        # A configured address first, so a refusal that clears it shows too.
        self.assertEqual(self.write("10.9.8.7")[0], OK)
        before = sha256(self.exe)
        cases = [
            ("32 ASCII bytes", ["b" * 32]),
            ("40 ASCII bytes", ["c" * 40]),
            ("16 Chinese characters, 32 bytes in GBK", ["更新" * 8]),
            ("a character GBK lacks", ["\U0001F600.example"]),
            ("a character code page 1252 lacks", ["更新.example", "--codepage", "1252"]),
            ("an unknown code page", ["10.1.2.3", "--codepage", "12345"]),
            ("not a code page number", ["10.1.2.3", "--codepage", "abc"]),
            ("an unknown option", ["10.1.2.3", "--force"]),
            ("too many arguments", ["10.1.2.3", "extra"]),
        ]
        for why, args in cases:
            with self.subTest(why):
                self.assert_refused(self.exe, self.write(*args), why)
                self.assertEqual(sha256(self.exe), before, f"{why}: the file changed")
        code, out, _ = self.show()
        self.assertEqual((code, out.strip()), (OK, "10.9.8.7"))

    def test_unterminated_trailer_reads_as_none(self):
        with open(self.exe, "r+b") as f:
            f.seek(-32, os.SEEK_END)
            f.write(b"h" * 32)
        code, out, err = self.show()
        self.assertEqual((code, out.strip()), (OK, NONE))
        self.assertIn("without a terminating NUL", err)


class FakeProgramTest(ToolCases, unittest.TestCase):
    def source_bytes(self):
        return make_pe()


# The real program's cases exist only where there is one; under Wine there
# must be (checked at the start), and nothing is ever reported as skipped.
if QX_EXE:
    class RealProgramTest(ToolCases, unittest.TestCase):
        def source_bytes(self):
            return read(QX_EXE)


class NotAProgramTest(unittest.TestCase):
    """Files the tool must not write into; none may change."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qxaddr-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_refused_files_stay_byte_identical(self):
        mz_outside = bytearray(make_pe())
        struct.pack_into("<I", mz_outside, 0x3C, len(mz_outside) + 100)
        no_signature = bytearray(make_pe())
        no_signature[0x80:0x84] = b"NE\0\0"
        cases = [
            ("a 10-byte file", b"0123456789"),
            ("an empty file", b""),
            ("a text file", b"10.1.2.3 is the server\n" * 20),
            ("MZ without room for a header", b"MZ" + bytes(40)),
            ("PE header offset outside the file", bytes(mz_outside)),
            ("no PE signature", bytes(no_signature)),
            ("a program without a trailer", make_pe(section_to_end=True)),
        ]
        for why, data in cases:
            with self.subTest(why):
                path = self.file("case.exe", data)
                before = sha256(path)
                for args in (["10.1.2.3"], []):
                    code, out, err = run(tool_path(path), *args)
                    self.assertEqual(code, REFUSED, f"{why}, args {args}: status {code}, stderr {err!r}")
                    self.assertIn("qxaddr:", err)
                    self.assertEqual(out.strip(), "", why)
                    self.assertEqual(sha256(path), before, f"{why}: the file changed")
                    self.assertEqual(os.path.getsize(path), len(data))

    def test_short_file_message_says_why(self):
        path = self.file("ten.exe", b"0123456789")
        _, _, err = run(tool_path(path), "10.1.2.3")
        self.assertIn("10 bytes long", err)

    def test_missing_file_is_not_created(self):
        path = os.path.join(self.dir, "missing.exe")
        code, out, err = run(tool_path(path), "10.1.2.3")
        self.assertEqual(code, FAILED, err)
        self.assertIn("qxaddr:", err)
        self.assertFalse(os.path.exists(path), "the tool created the file")

    def test_usage(self):
        code, _, err = run()
        self.assertEqual(code, REFUSED)
        self.assertIn("usage:", err)
        code, out, _ = run("--help")
        self.assertEqual(code, OK)
        self.assertIn("usage:", out)


if __name__ == "__main__":
    if not TOOL or not os.path.isfile(TOOL):
        sys.exit(f"QXADDR must name the qxaddr program to test (got {TOOL!r})")
    if (UNDER_WINE or QX_EXE) and not os.path.isfile(QX_EXE):
        sys.exit(f"QX_EXE must name a built QXUpdate.exe to test on (got {QX_EXE!r})")
    unittest.main(verbosity=2)
