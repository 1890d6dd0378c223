"""Signed scripts and pinned files in whole sessions. The Linux qxsign does the publisher's part: one key, a copy
of the updater stamped with it, and each script pinned and signed in nginx's folder; then the row's change is made
behind the publisher's back."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from harness import (ANALYSING, BUILD_DIR, DONE, EXE, READING, SETTINGS_ROOT, SessionTestCase, linux_path,
                     read_bytes, reg_values, stored_stamp, windows_path)

QXSIGN = os.environ["QX_QXSIGN"]
REFUSED = "升级信息的签名无效，没有做任何更改。"
OLD, NEW = b"the previous version\r\n", b"the pinned version\r\n"
DOWN = ["2030-01-01", "down,f.txt,{target}"]
VER = ["2030-01-01", "ver,qxnew.exe,99.0.0", "message,after the ver line"]
DOWNLOADING, MISMATCH = '正在下载文件"{}"……', '文件"{}"的校验值不符，未更新。'
DOWN_F = DOWNLOADING.format("f.txt")
# Where a newer updater is downloaded to with the default work folder, and where its hand-over is noted.
TEMP_COPY, HANDOVER_KEY = r"c:\qxwork\temp\{}Temp.exe", SETTINGS_ROOT + r"\QXUpdate\Update"


def qxsign(*args):
    p = subprocess.run([QXSIGN, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    if p.returncode != 0:
        raise AssertionError(f"qxsign {args}: exit status {p.returncode}: {(p.stdout + p.stderr).decode()}")


def restamp_script(folder):  # one byte: the script's stamp a day later
    path = pathlib.Path(folder, "update.inf")
    path.write_bytes(path.read_bytes().replace(b"2030-01-01", b"2030-01-02", 1))


def drop_signature(folder):
    os.remove(os.path.join(folder, "update.inf.sig"))


def replace_on_server(name):
    return lambda folder: pathlib.Path(folder, name).write_bytes(b"changed on the server\r\n")


CASES = [  # name, stamped updater, signed, script, change after signing, progress lines, target after, stamp
    ("signed_script_runs", True, True, DOWN, None, [READING, ANALYSING, DOWN_F, DONE], NEW, "2030-01-01"),
    ("tampered_script_runs_nothing", True, True, DOWN, restamp_script, [READING, REFUSED], OLD, None),
    ("missing_signature_runs_nothing", True, True, DOWN, drop_signature, [READING, REFUSED], OLD, None),
    ("tampered_file_keeps_the_target", True, True, DOWN, replace_on_server("f.txt"),
     [READING, ANALYSING, DOWN_F, MISMATCH.format("{target}"), DONE], OLD, ...),
    ("unsigned_script_without_key_runs", False, False, DOWN, None, [READING, ANALYSING, DOWN_F, DONE], NEW,
     "2030-01-01"),
    ("ver_line_whose_updater_fails_its_pin", True, True, VER, replace_on_server("qxnew.exe"),
     [READING, ANALYSING, "正在检查版本号……", DOWNLOADING.format("qxnew.exe"), MISMATCH.format("{temp}"),
      "after the ver line", DONE], OLD, ...),
]


class SignedTest(SessionTestCase):

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="qxkeys-", dir=BUILD_DIR)
        cls.stamped = os.path.join(cls.keys, "QXUpdate.exe")
        shutil.copy2(EXE, cls.stamped)
        qxsign("keygen", os.path.join(cls.keys, "publisher.pem"))
        qxsign("stamp", cls.stamped, os.path.join(cls.keys, "publisher.pub.pem"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def run_case(self, base, stamped, signed, script, change, expected, target_after, stamp):
        target, temp = os.path.join(self.work_dir, "f.txt"), TEMP_COPY.format(base)
        pathlib.Path(target).write_bytes(OLD)
        pathlib.Path(linux_path(temp)).unlink(missing_ok=True)
        self.nginx.put("f.txt", NEW)
        self.nginx.put("qxnew.exe", b"MZ the next updater")
        self.publish([line.format(target=windows_path(target)) for line in script])
        inf = os.path.join(self.nginx.folder, "update.inf")
        if signed:
            qxsign("pin", inf, self.nginx.www)
            qxsign("sign", os.path.join(self.keys, "publisher.pem"), inf)
        if change:
            change(self.nginx.folder)
        app = self.start_updater(base, self.stamped if stamped else EXE)
        installed = read_bytes(app.path)

        names = dict(target=windows_path(target), temp=temp)
        self.check_lines("of the session", [line.format(**names) for line in expected], self.run_session())
        self.check("the target", target_after, read_bytes(target))
        self.check("part files left", [], [n for n in os.listdir(self.work_dir) if ".part" in n])
        if stamp is not ...:
            self.check("stored stamp", stamp, stored_stamp(base))
        self.check("the updater's own file replaced", False, read_bytes(app.path) != installed)
        self.check("a hand-over noted, or a new updater left to start", ({}, False),
                   (reg_values(HANDOVER_KEY), os.path.exists(linux_path(temp))))


for number, (name, *row) in enumerate(CASES):
    setattr(SignedTest, "test_" + name, lambda self, row=["QXSigned" + str(number)] + row: self.run_case(*row))


if __name__ == "__main__":
    unittest.main()
