#!/usr/bin/env python3
"""qxcheck as a script author runs it (QXCHECK): options, report forms, exit status. What the
checker finds is for the unit tests. The sample update folder of QX_SOURCE_DIR must check clean."""
import json
import os
import re
import subprocess
import tempfile
import unittest

TOOL, SOURCE_DIR = os.environ.get("QXCHECK", ""), os.environ.get("QX_SOURCE_DIR", "")
CLEAN, FINDINGS, UNREADABLE = 0, 1, 2
UNKNOWN = '"%s" is not a command; the line is ignored (did you mean "down"?)'


class QxcheckTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(TOOL, "QXCHECK must name the program to test")
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.missing = self.path("missing.inf")

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def write(self, name, *lines, raw=None, encoding="cp936"):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(raw if raw is not None else "".join(l + "\r\n" for l in lines).encode(encoding))
        return self.path(name)

    def run_tool(self, *args):
        done = subprocess.run([TOOL, *args], capture_output=True, timeout=30)
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")

    def codes(self, *args):
        status, out, _ = self.run_tool(*args)
        return status, [re.match(r".*:(\d+:\d+): ([a-z-]+): ", line).groups() for line in out.splitlines()]

    def test_lines_summary_and_exit_status(self):
        clean = self.write("clean.inf", "2024-03-01", "message,好")
        one = self.write("one.inf", "2024-03-01", "dowload,x")
        two = self.write("two.inf", "2024-03-01", "dowload,x", "wait,5s")
        self.assertEqual(self.run_tool(clean), (CLEAN, "", "no findings\n"))
        self.assertEqual(self.run_tool(one)[::2], (FINDINGS, "1 finding\n"))
        self.assertEqual(self.run_tool(clean, two)[1:], (
            two + ":2:1: unknown-keyword: " + UNKNOWN % "dowload" + "\n" +
            two + ':3:6: wait-value: "5s" is not a plain number of seconds: it reads as 5\n', "2 findings\n"))
        # One unreadable script among others decides the status, and no summary follows.
        status, out, err = self.run_tool(one, self.missing)
        self.assertEqual((status, out.count("\n")), (UNREADABLE, 1))
        self.assertTrue(err.startswith(self.missing + ": cannot be read: ") and err.count("\n") == 1, err)
        self.assertEqual(self.run_tool(self.tmp.name)[0], UNREADABLE)  # a folder is no script

    def test_json_report(self):
        dirty = self.write("dirty.inf", "2024-03-01", 'dow"l\\你\t,x')
        status, out, _ = self.run_tool("--json", dirty, self.missing)
        self.assertIn('"message":"\\"dow\\"l\\\\你\\u0009\\" is not a command', out)
        report = json.loads(out)
        self.assertEqual((status, [e["file"] for e in report["errors"]]), (UNREADABLE, [self.missing]))
        self.assertEqual(report["findings"], [{"file": dirty, "line": 2, "column": 1, "code": "unknown-keyword",
                                               "message": UNKNOWN % 'dow"l\\你\t'}])
        clean = self.write("clean.inf", "2024-03-01")
        self.assertEqual(self.run_tool("--json", clean), (CLEAN, '{"findings":[],"errors":[]}\n', ""))

    def test_code_page_and_previous_stamp(self):
        gbk = self.write("gbk.inf", "2024-03-01 10:00:00", "message,你好")
        utf8 = self.write("utf8.inf", "2024-03-01", "message,你好", encoding="utf-8")
        for args, expected in (([gbk], []), (["--codepage", "65001", gbk], [("2:9", "invalid-byte")]),
                               (["--codepage", "65001", utf8], []), (["--previous", "2024-03-01", gbk], []),
                               (["--previous", "2024-03-01 10:00:00", gbk], [("1:1", "stamp-not-later")])):
            self.assertEqual(self.codes(*args), (FINDINGS if expected else CLEAN, expected), args)
        self.assertIn("not valid in code page 936", self.run_tool(self.write("bad.inf", raw=b"2024-03-01\xff"))[1])

    def test_server_folder(self):
        root = self.path("www")
        self.write("www/qxupdate/update.inf", "2024-03-01", "update,app.exe", "create,gone.ini", "down,/files/big.zip")
        self.write("www/qxupdate/app.exe", raw=b"MZ")
        self.write("www/files/big.zip", raw=b"PK")
        os.makedirs(os.path.join(root, "qxupdate", "gone.ini"))  # a folder is not the file
        for server in (root, root + "/"):  # checks the script the folder publishes
            self.assertEqual(self.codes("--server", server), (FINDINGS, [("3:8", "server-missing")]))

    def test_bad_usage_exits_2_and_help_0(self):
        path = self.write("update.inf", "2024-03-01")
        for args in (["--codepage", "x", path], ["--codepage", "99999", path], ["--previous", "yesterday", path],
                     ["--frobnicate", path], [], ["--server"]):
            status, _, err = self.run_tool(*args)
            self.assertEqual((status, "usage:" in err), (UNREADABLE, True), args)
        status, out, _ = self.run_tool("--help")
        self.assertEqual((status, "--server DIR" in out), (CLEAN, True))

    def test_sample_update_folder_checks_clean(self):
        status, out, err = self.run_tool("--server", os.path.join(SOURCE_DIR, "samples", "update"))
        self.assertEqual(status, CLEAN, out + err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
