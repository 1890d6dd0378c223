#!/usr/bin/env python3
"""The script checker qxcheck, run as a script author would run it.

Environment:
  QXCHECK        the qxcheck program to test (required)
  QX_SOURCE_DIR  the source tree; its sample update folder must check clean

Every case writes its scripts as bytes (code page 936 unless it says
otherwise) into a temporary folder and looks at the exit status, the lines
on standard output and, with --json, the parsed report.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

TOOL = os.environ.get("QXCHECK", "")
SOURCE_DIR = os.environ.get("QX_SOURCE_DIR", "")
TIME_LIMIT = 30

CLEAN, FINDINGS, UNREADABLE = 0, 1, 2
LINE_FORM = re.compile(r"^(?P<file>.+):(?P<line>\d+):(?P<column>\d+): (?P<code>[a-z0-9-]+): (?P<message>.+)$")


def crlf(*lines):
    return "".join(line + "\r\n" for line in lines)


class QxcheckTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(TOOL, "QXCHECK must name the program to test")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, data, encoding="cp936"):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode(encoding))
        return path

    def run_tool(self, *args):
        done = subprocess.run([TOOL, *args], capture_output=True, timeout=TIME_LIMIT)
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")

    def findings(self, *args):
        """Exit status and (line, column, code) of every finding line."""
        status, out, err = self.run_tool(*args)
        found = []
        for text in out.splitlines():
            m = LINE_FORM.match(text)
            self.assertIsNotNone(m, "a finding line not in the form file:line:column: code: message: %r" % text)
            found.append((int(m["line"]), int(m["column"]), m["code"]))
        return status, found, err

    def test_clean_script_exits_0_and_prints_no_finding(self):
        path = self.write("update.inf", crlf("2024-03-01", "notice,正在升级，请稍候", "update,app.exe",
                                             "copy,app.exe,$WorkDir\\app2.exe,0", "msgbox,完成,64,升级"))
        status, found, err = self.findings(path)
        self.assertEqual((status, found), (CLEAN, []), err)

    def test_findings_exit_1_one_line_each_with_line_and_column(self):
        path = self.write("update.inf", crlf("2024-03-01", "dowload,setup.exe", "message,Hello, world",
                                             "copy,a.txt,$workdir\\a.txt", "wait,5s"))
        status, found, _ = self.findings(path)
        self.assertEqual(status, FINDINGS)
        self.assertEqual(found, [(2, 1, "unknown-keyword"), (3, 14, "extra-fields"), (4, 12, "macro-case"),
                                 (5, 6, "wait-value")])
        _, out, _ = self.run_tool(path)
        self.assertIn('"dowload" is not a command', out)
        self.assertIn('did you mean "down"?', out)

    def test_script_saved_with_line_feeds_is_reported_on_line_1(self):
        path = self.write("update.inf", "2024-03-01\ndown,setup.exe\nmessage,ok\n")
        status, found, _ = self.findings(path)
        self.assertEqual(status, FINDINGS)
        self.assertEqual(found, [(1, 11, "lf-line-ends")])

    def test_unreadable_script_exits_2(self):
        status, out, err = self.run_tool(os.path.join(self.dir, "missing.inf"))
        self.assertEqual(status, UNREADABLE)
        self.assertEqual(out, "")
        self.assertIn("missing.inf", err)
        status, _, _ = self.run_tool(self.dir)  # a folder is no script either
        self.assertEqual(status, UNREADABLE)
        # One unreadable script among others decides the status.
        dirty = self.write("dirty.inf", crlf("2024-03-01", "dowload,x"))
        status, out, _ = self.run_tool(dirty, os.path.join(self.dir, "missing.inf"))
        self.assertEqual(status, UNREADABLE)
        self.assertIn("unknown-keyword", out)

    def test_json_report_is_parseable(self):
        dirty = self.write("dirty.inf", crlf("2024-03-01", "dowload,\"quoted\"\tname", "delete,*.tmp"))
        status, out, _ = self.run_tool("--json", dirty, os.path.join(self.dir, "missing.inf"))
        self.assertEqual(status, UNREADABLE)
        report = json.loads(out)
        got = [(f["file"], f["line"], f["column"], f["code"]) for f in report["findings"]]
        self.assertEqual(got, [(dirty, 2, 1, "unknown-keyword"), (dirty, 3, 8, "wildcard")])
        self.assertIn('"dowload"', report["findings"][0]["message"])
        self.assertEqual([e["file"] for e in report["errors"]], [os.path.join(self.dir, "missing.inf")])

        clean = self.write("clean.inf", crlf("2024-03-01", "message,好"))
        status, out, _ = self.run_tool("--json", clean)
        self.assertEqual((status, json.loads(out)), (CLEAN, {"findings": [], "errors": []}))

    def test_code_page(self):
        # 0xFF is no character in code page 936.
        path = self.write("update.inf", b"2024-03-01\r\nmessage,\xc4\xe3\xff\xba\xc3\r\n")
        status, found, _ = self.findings(path)
        self.assertEqual((status, found), (FINDINGS, [(2, 10, "invalid-byte")]))
        # The same Chinese text is clean in 936 and invalid as UTF-8.
        gbk = self.write("gbk.inf", crlf("2024-03-01", "message,你好"))
        self.assertEqual(self.findings(gbk)[:2], (CLEAN, []))
        self.assertEqual(self.findings("--codepage", "65001", gbk)[:2], (FINDINGS, [(2, 9, "invalid-byte")]))
        utf8 = self.write("utf8.inf", crlf("2024-03-01", "message,你好"), encoding="utf-8")
        self.assertEqual(self.findings("--codepage", "65001", utf8)[:2], (CLEAN, []))
        # A byte-order mark is reported even where the rest is valid.
        bom = self.write("bom.inf", b"\xef\xbb\xbf" + crlf("2024-03-01", "message,ok").encode())
        self.assertEqual(self.findings("--codepage", "65001", bom)[:2], (FINDINGS, [(1, 1, "bom")]))

    def test_previous_stamp(self):
        path = self.write("update.inf", crlf("2024-03-01 10:00:00", "message,x"))
        self.assertEqual(self.findings("--previous", "2024-03-01 10:00:00", path)[:2],
                         (FINDINGS, [(1, 1, "stamp-not-later")]))
        self.assertEqual(self.findings("--previous", "2024-03-01", path)[:2], (CLEAN, []))

    def test_server_folder(self):
        root = os.path.join(self.dir, "www")
        self.write("www/qxupdate/update.inf", crlf("2024-03-01", "update,app.exe", "create,gone.ini",
                                                    "down,/files/big.zip", "down,/files/none.zip",
                                                    "down,http://elsewhere.example.com/x.exe",
                                                    "ver,QXUpdate.exe,1.2.0"))
        self.write("www/qxupdate/app.exe", b"MZ")
        self.write("www/files/big.zip", b"PK")
        self.write("www/qxupdate/QXUpdate.exe", b"MZ")
        # The script defaults to the one the server folder publishes.
        status, found, _ = self.findings("--server", root)
        self.assertEqual(status, FINDINGS)
        self.assertEqual(found, [(3, 8, "server-missing"), (5, 6, "server-missing")])
        os.makedirs(os.path.join(root, "qxupdate", "gone.ini"))  # a folder is not the file
        self.assertEqual(self.findings("--server", root + "/")[1], [(3, 8, "server-missing"), (5, 6, "server-missing")])

    def test_bad_usage_exits_2(self):
        path = self.write("update.inf", crlf("2024-03-01"))
        for args in (["--codepage", "x", path], ["--codepage", "99999", path], ["--previous", "yesterday", path],
                     ["--frobnicate", path], [], ["--server"]):
            status, out, err = self.run_tool(*args)
            self.assertEqual(status, UNREADABLE, "arguments %r" % args)
            self.assertIn("usage:", err, "arguments %r" % args)
        status, out, _ = self.run_tool("--help")
        self.assertEqual(status, CLEAN)
        self.assertIn("--server DIR", out)

    def test_sample_update_folder_checks_clean(self):
        sample = os.path.join(SOURCE_DIR, "samples", "update")
        if not SOURCE_DIR or not os.path.isfile(os.path.join(sample, "qxupdate", "update.inf")):
            self.skipTest("no sample update folder in this tree")
        status, out, err = self.run_tool("--server", sample)
        self.assertEqual(status, CLEAN, out + err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
