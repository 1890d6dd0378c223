#!/usr/bin/env python3
"""qxcheck as an author runs it (QXCHECK): options, report forms, exit status; findings are unit-tested."""
import json
import os
import subprocess
import tempfile
import unittest

TOOL, SOURCE_DIR = os.environ.get("QXCHECK", ""), os.environ.get("QX_SOURCE_DIR", "")
CLEAN, FINDINGS, UNREADABLE = 0, 1, 2
UNKNOWN = '"%s" is not a command; the line is ignored (did you mean "down"?)'


class QxcheckTest(unittest.TestCase):
    def test_runs(self):
        tmp = self.enterContext(tempfile.TemporaryDirectory())

        def write(name, *lines):
            with open(os.path.join(tmp, name), "wb") as f:
                f.write("".join(l + "\r\n" for l in lines).encode("cp936"))
            return os.path.join(tmp, name)

        clean, missing = write("clean.inf", "2024-03-01", "message,好"), os.path.join(tmp, "missing.inf")
        two = write("two.inf", "2024-03-01", "dowload,x", "wait,5s")
        gbk = write("gbk.inf", "2024-03-01 10:00:00", "message,你好")
        os.makedirs(os.path.join(tmp, "pinned", "qxupdate"))
        signed = write("pinned/qxupdate/update.inf", "2024-03-01", "down,a.txt,,sha256=" + "0" * 64, "down,a.txt")
        write("pinned/qxupdate/a.txt")
        # (arguments, status, stdout, stderr); None: a usage error, checked by its stderr alone
        cases = [
            ([clean], CLEAN, "", "no findings\n"),
            ([clean, two], FINDINGS, f"{two}:2:1: unknown-keyword: {UNKNOWN % 'dowload'}\n{two}:3:6: wait-value: "
             '"5s" is not a plain number of seconds: it reads as 5\n', "2 findings\n"),
            (["--codepage", "65001", gbk], FINDINGS, f"{gbk}:2:9: invalid-byte: ", "1 finding\n"),
            (["--previous", "2024-03-01 10:00:00", gbk], FINDINGS, f"{gbk}:1:1: stamp-not-later: ", "1 finding\n"),
            (["--server", os.path.join(SOURCE_DIR, "samples", "update")], CLEAN, "", "no findings\n"),
            # A wrong pin on line 2, none on line 3.
            (["--signed", "--server", os.path.join(tmp, "pinned"), signed], FINDINGS,
             f"{signed}:2:13: pin-mismatch: ", "2 findings\n"),
            (["--frobnicate", clean], UNREADABLE, None, "usage:"),
        ]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                got = subprocess.run([TOOL, *args], capture_output=True, timeout=30)
                got_out, got_err = got.stdout.decode("utf-8"), got.stderr.decode("utf-8")
                self.assertEqual(got.returncode, status, got_out + got_err)
                if out is not None:
                    whole = out.endswith("\n") or not out
                    self.assertTrue(got_out == out if whole else got_out.startswith(out), got_out)
                self.assertIn(err, got_err) if out is None else self.assertEqual(got_err, err)

        # One unreadable script decides the status; a strict JSON parse proves the escaping.
        dirty = write("d.inf", "2024-03-01", 'dow"l\\你\t,x')
        got = subprocess.run([TOOL, "--json", dirty, missing], capture_output=True, timeout=30)
        report = json.loads(got.stdout)
        self.assertEqual((got.returncode, [e["file"] for e in report["errors"]]), (UNREADABLE, [missing]))
        self.assertEqual(report["findings"], [{"file": dirty, "line": 2, "column": 1, "code": "unknown-keyword",
                                               "message": UNKNOWN % 'dow"l\\你\t'}])


if __name__ == "__main__":
    unittest.main(verbosity=2)
