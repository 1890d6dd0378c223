#!/usr/bin/env python3
"""qxsign as a publisher runs it (QXSIGN; the Windows tool through QXSIGN_RUNNER under Wine): the steps of
the README on a copy of the sample update folder, exit status, messages, and that a file is replaced whole or
not at all. Key, signature and pin formats and the updater's decision are for the unit tests."""
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL, RUNNER, SOURCE_DIR, QX_EXE, NATIVE = (os.environ.get(n, "") for n in (
    "QXSIGN", "QXSIGN_RUNNER", "QX_SOURCE_DIR", "QX_EXE", "QXSIGN_NATIVE"))
OK, FAILED, REFUSED, NOT_ALL = 0, 1, 2, 3


def run(*args, tool=None):
    # Files rather than pipes: Wine's server would keep a pipe open after the tool has ended.
    wine = RUNNER and tool is None
    args = [("Z:" + a.replace("/", "\\")) if wine and a.startswith("/") else a for a in args]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.run(([RUNNER] if wine else []) + [tool or TOOL, *args], stdout=out, stderr=err,
                           stdin=subprocess.DEVNULL, timeout=180 if wine else 30)
        out.seek(0), err.seek(0)
        return p.returncode, (out.read() + err.read()).decode("utf-8", "replace").replace("\r\n", "\n")


def make_pe(marker=True):
    """MZ header, PE signature, one section holding the key marker (as an updater that knows keys has),
    then the empty room for a key and the address trailer."""
    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x80)
    body = bytes(i * 7 & 0xFF for i in range(1024 - 8)) + (b"QXSIGKEY" if marker else bytes(8))
    section = struct.pack("<8sIIIIIIHHI", b".data", 1024, 0x1000, 1024, 0x80 + 64, 0, 0, 0, 0, 0xC0000040)
    return bytes(dos) + b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0, 0x0102) + section + body + \
        bytes(72) + b"10.1.2.3".ljust(32, b"\0")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class QxsignTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name
        self.server = os.path.join(tmp.name, "update")
        shutil.copytree(os.path.join(SOURCE_DIR, "samples", "update"), self.server)
        self.script = os.path.join(self.server, "qxupdate", "update.inf")
        self.key = os.path.join(tmp.name, "publisher.pem")

    def at(self, name):
        return os.path.join(self.dir, name)

    def steps(self, rows):
        """Runs (arguments, status, output fragment, file that must stay as it was or None) in turn."""
        for args, status, fragment, kept in rows:
            before = read(kept) if kept and os.path.exists(kept) else None
            code, output = run(*args)
            with self.subTest(args=args):
                self.assertEqual(code, status, output)
                self.assertIn(fragment, output)
                if kept:
                    self.assertEqual(read(kept) if os.path.exists(kept) else None, before, kept + " changed")

    @unittest.skipIf(RUNNER, "the Linux tool")
    def test_publishing_the_sample_folder(self):
        exe, other = self.at("QXUpdate.exe"), self.at("other.pem")
        write(exe, make_pe())
        tools = os.path.join(self.server, "qxupdate", "tools.txt")
        self.steps([
            (["keygen", self.key], OK, "publisher.pub.pem", None),
            (["keygen", self.key], REFUSED, "never overwritten", self.key),
            (["keygen", other], OK, "", None),
            (["stamp", exe, other], OK, "now carries key", None),
            (["stamp", exe, self.at("publisher.pub.pem")], OK, "replaced by key", None),
            (["stamp", exe, self.key], OK, "already carries key", exe),
            (["verify", exe, self.script], NOT_ALL, "there is no signature", None),
            (["pin", self.script, self.server], OK, "3 lines pinned, 0 left unchanged", None),
            (["sign", self.key, self.script], OK, "update.inf.sig: signed with key", None),
            (["verify", exe, self.script], OK, "the signature is good", None),
            (["verify", self.at("other.pub.pem"), self.script], NOT_ALL, "does not match the script", None),
        ])
        self.assertEqual(stat.S_IMODE(os.stat(self.key).st_mode), 0o600)
        self.assertEqual(read(exe)[:-104], make_pe()[:-104])
        self.assertEqual(read(exe)[-32:], make_pe()[-32:])
        # One changed byte in the script or in a pinned file, and the updater refuses.
        for path, refusal in ((self.script, "does not match the script"), (tools, "does not match its pin")):
            data = read(path)
            write(path, data[:-3] + bytes([data[-3] ^ 1]) + data[-2:])
            self.steps([(["verify", exe, self.script], NOT_ALL, refusal, None)])
            write(path, data)
        # openssl reads our signature, and we read one it makes.
        sig = self.at("openssl.sig")
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", self.key, "-out", sig, self.script], check=True)
        self.steps([(["verify", self.at("publisher.pub.pem"), self.script, sig], OK, "the signature is good", None)])
        subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.at("publisher.pub.pem"), "-signature",
                        self.script + ".sig", self.script], check=True, stdout=subprocess.DEVNULL)

    @unittest.skipIf(RUNNER, "the Linux tool")
    def test_pin_keeps_every_other_byte(self):
        pin = lambda data: b"sha256=" + subprocess.run(["sha256sum"], input=data, capture_output=True,
                                                       check=True).stdout[:64]
        folder = os.path.join(self.server, "qxupdate")
        write(os.path.join(folder, "新.txt"), b"new")
        lines = [  # (line as written, line after pin) in code page 936
            ("2026-12-01", None), ("message,升级", None),
            ("down,新.txt", "down,新.txt,,%s"), ("Update,readme.txt,c:\\a.txt,sha256=" + "0" * 64,
                                                  "Update,readme.txt,c:\\a.txt,%s"),
            ("create,config.ini,,SHA256=zz,rest", "create,config.ini,,%s,rest"),
            ("down,gone.txt", None), ("down,http://other/x.txt", None), ("down,tools.txt,,note", None),
        ]
        data = {"新.txt": b"new", "readme.txt": read(os.path.join(folder, "readme.txt")),
                "config.ini": read(os.path.join(folder, "config.ini"))}
        # Line ends as the updater reads them: CR LF, and a lone CR after line 2.
        ends = [b"\r\n", b"\r"] + [b"\r\n"] * (len(lines) - 2)
        original = b"".join(l.encode("gbk") + end for (l, _), end in zip(lines, ends))
        expected = b"".join((l.encode("gbk") if after is None else after.encode("gbk") % pin(
            data[next(n for n in data if n in l)])) + end for (l, after), end in zip(lines, ends))
        write(self.script, original)
        code, output = run("pin", self.script, self.server)
        self.assertEqual((code, read(self.script)), (NOT_ALL, expected), output)
        for fragment in (":6: \"gone.txt\": no file", ":7: \"http://other/x.txt\": not a file of this server",
                         ":8: \"tools.txt\": the pin's field holds other text", "3 lines pinned, 3 left unchanged"):
            self.assertIn(fragment, output)

    @unittest.skipIf(RUNNER, "the Linux tool")
    def test_refusals_leave_files_as_they_were(self):
        exe, plain = self.at("QXUpdate.exe"), self.at("plain.exe")
        write(exe, make_pe())
        write(plain, make_pe(marker=False))
        # A signature beside a script whose temporary name is too long to make: the write fails before the
        # old signature is touched.
        long_script = self.at("s" * 246 + ".inf")
        write(long_script, read(self.script))
        write(long_script + ".sig", b"old")
        self.steps([
            (["keygen", self.key], OK, "", None),
            (["stamp", plain, self.key], REFUSED, "built without signed updates", plain),
            (["stamp", self.script, self.key], REFUSED, "not a Windows program", self.script),
            (["stamp", exe, self.script], REFUSED, "is not a P-256 key file", exe),
            (["sign", self.at("publisher.pub.pem"), self.script], REFUSED, "needs the secret one", self.script),
            (["sign", self.key, long_script], FAILED, "cannot write", long_script + ".sig"),
            (["verify", self.script, self.script], REFUSED, "neither a key file nor an updater", None),
            (["verify", plain, self.script], OK, "the program carries no key", None),
            (["pin", self.at("missing.inf"), self.server], FAILED, "cannot read", None),
            (["stamp", exe], REFUSED, "usage:", exe),
            (["frobnicate"], REFUSED, "unknown command", None),
        ])
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(
            ["update", "QXUpdate.exe", "plain.exe", "publisher.pem", "publisher.pub.pem", os.path.basename(long_script),
             os.path.basename(long_script) + ".sig"]), "a temporary file was left behind")

    @unittest.skipUnless(RUNNER, "the Windows tool")
    def test_windows_tool(self):
        exe = self.at("QXUpdate.exe")
        shutil.copyfile(QX_EXE, exe)
        self.steps([
            (["keygen", self.key], OK, "publisher.pub.pem", None),
            (["stamp", exe, self.key], OK, "now carries key", None),
            (["pin", self.script, self.server], OK, "3 lines pinned", None),
            (["sign", self.key, self.script], OK, "signed with key", None),
            (["verify", exe, self.script], OK, "the signature is good", None),
        ])
        # The Linux tool signs with the key the Windows tool made; the Windows tool accepts it.
        code, output = run("sign", self.key, self.script, tool=NATIVE)
        self.assertEqual(code, OK, output)
        self.steps([(["verify", exe, self.script], OK, "the signature is good", None)])


if __name__ == "__main__":
    if not os.path.isfile(TOOL) or (RUNNER and not (os.path.isfile(QX_EXE) and os.path.isfile(NATIVE))):
        sys.exit(f"QXSIGN must name qxsign; under Wine QX_EXE the built program and QXSIGN_NATIVE the Linux tool "
                 f"(got {TOOL!r}, {QX_EXE!r}, {NATIVE!r})")
    unittest.main(verbosity=2)
