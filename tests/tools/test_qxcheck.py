#!/usr/bin/env python3
"""qxcheck as a script author runs it (QXCHECK): options, report forms, exit status. What the checker finds
is for the unit tests. The sample update folder of QX_SOURCE_DIR must check clean."""
import json
import os
import subprocess
import tempfile
import unittest

TOOL, SOURCE_DIR = os.environ.get("QXCHECK", ""), os.environ.get("QX_SOURCE_DIR", "")
CLEAN, FINDINGS, UNREADABLE = 0, 1, 2
UNKNOWN = '"%s" is not a command; the line is ignored (did you mean "down"?)'


class Part(str):
    """Expected somewhere in the output rather than as all of it."""


def matches(expected, text):
    return expected(text) if callable(expected) else expected in text if isinstance(expected, Part) else expected == text


class QxcheckTest(unittest.TestCase):
    def test_runs(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)

        def write(name, *lines, raw=None):
            path = os.path.join(tmp.name, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(raw if raw is not None else "".join(l + "\r\n" for l in lines).encode("cp936"))
            return path

        clean, missing = write("clean.inf", "2024-03-01", "message,好"), os.path.join(tmp.name, "missing.inf")
        one, two = write("one.inf", "2024-03-01", "dowload,x"), write("two.inf", "2024-03-01", "dowload,x", "wait,5s")
        gbk = write("gbk.inf", "2024-03-01 10:00:00", "message,你好")
        dirty = write("dirty.inf", "2024-03-01", 'dow"l\\你\t,x')
        www = os.path.join(tmp.name, "www")
        write("www/qxupdate/update.inf", "2024-03-01", "update,app.exe", "create,gone.ini", "down,/files/big.zip")
        write("www/qxupdate/app.exe", raw=b"MZ")
        write("www/files/big.zip", raw=b"PK")
        os.makedirs(os.path.join(www, "qxupdate", "gone.ini"))  # a folder is not the file
        pinned = os.path.join(tmp.name, "pinned")
        write("pinned/qxupdate/update.inf", "2024-03-01", "down,a.txt,,sha256=" + "0" * 64, "down,a.txt")
        write("pinned/qxupdate/a.txt", raw=b"a")
        finding = lambda f, at, code, text: f"{f}:{at}: {code}: {text}\n"
        # (arguments, status, stdout, stderr): all of it, a Part of it, or a test of it
        cases = [
            ([clean], CLEAN, "", "no findings\n"),
            ([one], FINDINGS, finding(one, "2:1", "unknown-keyword", UNKNOWN % "dowload"), "1 finding\n"),
            ([clean, two], FINDINGS, finding(two, "2:1", "unknown-keyword", UNKNOWN % "dowload") +
             finding(two, "3:6", "wait-value", '"5s" is not a plain number of seconds: it reads as 5'), "2 findings\n"),
            # One unreadable script decides the status, and no summary follows.
            ([one, missing], UNREADABLE, lambda out: out.count("\n") == 1,
             lambda err: err.startswith(missing + ": cannot be read: ") and err.count("\n") == 1),
            ([gbk], CLEAN, "", "no findings\n"),
            (["--codepage", "65001", gbk], FINDINGS, Part(":2:9: invalid-byte: "), "1 finding\n"),
            (["--previous", "2024-03-01 10:00:00", gbk], FINDINGS, Part(":1:1: stamp-not-later: "), "1 finding\n"),
            ([write("bad.inf", raw=b"2024-03-01\xff")], FINDINGS, Part("not valid in code page 936"), Part("")),
            (["--server", www], FINDINGS, Part(":3:8: server-missing: "), "1 finding\n"),
            (["--server", os.path.join(SOURCE_DIR, "samples", "update")], CLEAN, "", "no findings\n"),
            (["--signed", "--server", pinned], FINDINGS,
             lambda out: ":2:13: pin-mismatch: " in out and ":3:1: pin-missing: " in out, "2 findings\n"),
            (["--json", clean], CLEAN, '{"findings":[],"errors":[]}\n', ""),
            (["--help"], CLEAN, Part("--server DIR"), Part("")),
        ] + [(args, UNREADABLE, Part(""), Part("usage:")) for args in (
            ["--codepage", "99999", clean], ["--frobnicate", clean], [])]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                got = subprocess.run([TOOL, *args], capture_output=True, timeout=30)
                got_out, got_err = got.stdout.decode("utf-8"), got.stderr.decode("utf-8")
                self.assertEqual(got.returncode, status, got_out + got_err)
                self.assertTrue(matches(out, got_out), got_out)
                self.assertTrue(matches(err, got_err), got_err)

        # A JSON report escapes what JSON must, and lists unreadable scripts as errors.
        got = subprocess.run([TOOL, "--json", dirty, missing], capture_output=True, timeout=30)
        self.assertIn('"message":"\\"dow\\"l\\\\你\\u0009\\" is not a command', got.stdout.decode("utf-8"))
        report = json.loads(got.stdout)
        self.assertEqual((got.returncode, [e["file"] for e in report["errors"]]), (UNREADABLE, [missing]))
        self.assertEqual(report["findings"], [{"file": dirty, "line": 2, "column": 1, "code": "unknown-keyword",
                                               "message": UNKNOWN % 'dow"l\\你\t'}])


if __name__ == "__main__":
    unittest.main(verbosity=2)
