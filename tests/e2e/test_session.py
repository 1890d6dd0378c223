"""Whole update sessions of the real program against nginx: one session with every local action (files,
the prefix's hosts file, registration through regsvr32, the registry, started programs, key presses into
a window of the test suite), the message boxes, and closing the window while a file downloads."""

import os
import pathlib
import re
import shutil
import subprocess
import time
import unittest

from harness import (ANALYSING, CAPTION, DONE, IDCANCEL, IDOK, HELPER, PREFIX, READING, REGDLL, TITLE,
                     SessionTestCase, controls, labels, read_bytes, reg, reg_value, start_enabled, stored_stamp,
                     windows_path)


HOSTS = os.path.join(PREFIX, "drive_c", "windows", "system32", "drivers", "etc", "hosts")
REG_KEY = r"HKCU\Software\QXUpdateE2E"
HELPER_TIMEOUT_S = 20


def failure(operation):
    """An ErrLog line of the operation: "错误", the number, "：" and a description the test does not fix."""
    return re.compile(re.escape(operation) + "错误.*：.*[^：]")


def read_marker(path):
    return dict(line.split("=", 1) for line in read_bytes(path).decode("utf-8").split("\r\n") if "=" in line)


class EveryActionSessionTest(SessionTestCase):

    def test_one_session_with_every_local_action(self):
        original = read_bytes(HOSTS)
        self.addCleanup(pathlib.Path(HOSTS).write_bytes, original)
        reg("delete", REG_KEY, "/f")
        self.addCleanup(reg, "delete", REG_KEY, "/f")
        with open(HOSTS, "wb") as f:
            f.write(b"127.0.0.1\tlocalhost\r\n"
                    b"10.9.9.9 qx-e2e-a.test # old address\r\n"
                    b"# qx-e2e-b.test is mentioned in a comment\r\n"
                    b"10.1.1.1 qx-e2e-b.test\r\n"
                    b"10.1.1.2 other-qx-e2e-b.test qx-e2e-b.test.example\r\n")

        w = self.folder("w")
        for program in (HELPER, REGDLL):
            shutil.copy2(program, w)
        ww = windows_path(w)
        marker = keywin = os.path.basename(HELPER)
        regdll = os.path.basename(REGDLL)
        source = b"the new file\r\n" * 3
        self.nginx.put("src.txt", source)
        self.nginx.put("new.txt", b"created from the server\r\n")
        pathlib.Path(w, "ro.txt").write_bytes(b"read-only\r\n")
        os.chmod(os.path.join(w, "ro.txt"), 0o444)
        keys_file = os.path.join(self.work_dir, "keys.txt")

        self.start_updater("QXaEvery")
        self.publish([
            "2030-01-01",
            "workpath," + ww,
            "down,src.txt",
            "copy,src.txt",
            "create,new.txt",
            "copy,missing.txt,x.txt",
            "delete,ro.txt",
            "checkwritable,src.txt",
            "hostsadd,qx-e2e-a.test,10.1.2.3",
            "hostsremove,qx-e2e-b.test",
            "register," + regdll,
            "regwrite," + REG_KEY + "\\Written,written by the script",
            "regwrite," + REG_KEY + "\\Gone,dword:7",
            "regdelete," + REG_KEY + "\\Gone",
            f"execute,{marker} bare one two,1",
            f"execute,{marker} minimised,6",
            f"execute,{keywin} keys.txt,1",
            "wait,3",
            "keypress,abc+(xy){ENTER}中,1",
        ])
        lines = self.run_session(timeout_s=90)
        self.check_lines("of the session with every action", [
            READING, ANALYSING,
            '正在设置工作目录"' + ww + '\\"……',
            '正在下载文件"src.txt"……',
            '正在复制文件"src.txt"……',
            '正在创建文件"new.txt"……',
            '正在复制文件"missing.txt"……',
            failure('复制文件"' + ww + '\\Temp\\missing.txt"'),
            '正在删除文件"ro.txt"……',
            '正在检测文件"src.txt"……',
            '正在添加DNS记录"qx-e2e-a.test"……',
            '正在删除DNS记录"qx-e2e-b.test"……',
            '正在注册组件"' + regdll + '"……',
            '正在写注册表信息"' + REG_KEY + '\\Written"……',
            '正在写注册表信息"' + REG_KEY + '\\Gone"……',
            '正在删除注册表信息"' + REG_KEY + '\\Gone"……',
            '正在执行程序"' + marker + ' bare one two"……',
            '正在执行程序"' + marker + ' minimised"……',
            '正在执行程序"' + keywin + ' keys.txt"……',
            '正在模拟按键"abc+(xy){ENTER}中"……',
            DONE,
        ], lines)

        # Files.
        expected_files = {
            "Temp/src.txt": source,
            "src.txt": source,
            "new.txt": b"created from the server\r\n",
        }
        for name, data in expected_files.items():
            path = os.path.join(w, name)
            self.check(f"content of {name}", data, read_bytes(path) if os.path.exists(path) else None)
        for name in ("ro.txt", "x.txt"):
            self.check(f"{name} exists", False, os.path.exists(os.path.join(w, name)))

        # The hosts file: the old address of a commented out, the new entry
        # last, b's own line gone while the names that only contain it stay.
        self.check("hosts file", b"127.0.0.1\tlocalhost\r\n"
                                 b"#10.9.9.9 qx-e2e-a.test # old address\r\n"
                                 b"# qx-e2e-b.test is mentioned in a comment\r\n"
                                 b"10.1.1.2 other-qx-e2e-b.test qx-e2e-b.test.example\r\n"
                                 b"10.1.2.3\tqx-e2e-a.test\r\n", read_bytes(HOSTS))

        # Started programs: a bare command runs from the work folder, the
        # updater's current folder is theirs, the style reaches them.
        cwd = windows_path(self.work_dir).lower()
        for name, args, show in (("bare", "bare one two", "1"), ("minimised", "minimised", "7")):
            path = os.path.join(w, name + ".marker")
            got = read_marker(path) if self.poll(lambda: os.path.exists(path), bool, HELPER_TIMEOUT_S)[1] else {}
            self.check(f"marker of the {name} execute line",
                       {"args": args, "cwd": cwd, "show": show},
                       dict(got, cwd=got.get("cwd", "").rstrip("\\").lower()))

        self.check("values the script wrote and deleted", ("written by the script", None),
                   (reg_value(REG_KEY, "Written"), reg_value(REG_KEY, "Gone")))

        # Registration runs on its own; give it time.
        registered, _ = self.poll(lambda: reg_value(REG_KEY, "Registered"), bool, HELPER_TIMEOUT_S)
        self.check("value written by the registered component",
                   (ww + "\\" + regdll).lower(), (registered or "").lower())

        # The press waited for its keys to be processed before its line returned.
        expected_keys = "abcXY\r中"
        got_keys, _ = self.poll(lambda: "".join(chr(int(h, 16)) for h in (
            read_bytes(keys_file).decode("ascii").split() if os.path.exists(keys_file) else [])),
            lambda keys: keys == expected_keys, 5)
        self.check("characters the key window received", expected_keys, got_keys)
        self.check("stored stamp", "2030-01-01", stored_stamp(self.base_name))


class MessageBoxTest(SessionTestCase):

    def test_notice_message_alert_and_msgbox(self):
        self.start_updater("QXsBoxes")
        notice = "新的提示：正在升级，请稍候"
        self.publish(["2030-01-01", "notice," + notice, "message,before the boxes", "alert,警告：这是一个提示框",
                      "msgbox,要继续吗？,33,提问", "message,after the boxes"])
        self.click_start()
        box = self.expect_box()
        self.check("the alert (title, text, buttons)", (TITLE, "警告：这是一个提示框", [IDOK]), self.describe_box(box))
        state = self.look()
        self.check_lines("while the first box is open", [READING, ANALYSING, "before the boxes"], self.new_lines(state))
        self.check("notice label while the first box is open", [notice], labels(state))
        self.check("start button while a box is open", False, start_enabled(state))
        self.answer_box(IDOK, box)
        box = self.expect_box()
        self.check("the msgbox (title, text, buttons)", ("提问", "要继续吗？", [IDOK, IDCANCEL]), self.describe_box(box))
        # Whichever button answers it, the script goes on.
        self.answer_box(IDCANCEL, box)
        self.check_lines("after the last box", ["after the boxes", DONE], self.wait_session_end())
        self.check("notice label after the session", [notice], labels(self.look()))


class ClosingTest(SessionTestCase):

    # Resuming from the bytes kept is the download engine's, tested without Windows.
    def test_closing_during_a_download_keeps_the_target(self):
        app = self.start_updater("QXsResume")
        target = os.path.join(self.folder("w"), "big.bin")
        pathlib.Path(target).write_bytes(b"the previous version")
        self.nginx.put("slow/big.bin", os.urandom(3 * 1048576 + 5000))
        self.publish(["2030-01-01", "update,/qxupdate/slow/big.bin," + windows_path(target)])
        updating = "正在更新文件\"/qxupdate/slow/big.bin\"……"
        part = target + ".part"
        self.click_start()

        # Into the second range, with the window answering and showing how
        # far it is.
        if not self.poll(lambda: os.path.exists(part) and os.path.getsize(part) > 1200000, bool, 60)[1]:
            self.fail_with_state("the download did not get into its second range within 60 s")
        state = self.look(timeout_ms=2000)
        if state is None:
            self.fail_with_state("the window did not answer during the download")
        bars = [c for c in controls(state, "msctls_progress32") if c["visible"]]
        self.check("visible progress bars during the download", 1, len(bars))
        self.check_lines("during the download", [READING, ANALYSING, updating], self.new_lines(state))

        closed_at = time.monotonic()
        r = self.driver.run("close", caption=CAPTION, exe=self.exe_name)
        self.check(f"close request ({r!r})", True, r.ok)
        try:
            code = app.proc.wait(max(0.0, closed_at + 5 - time.monotonic()))
            self.check("exit code after closing during a download", 0, code)
        except subprocess.TimeoutExpired:
            self.fail_with_state("the program outlived the close by more than 5 s")
        self.check("the target after the close", b"the previous version", read_bytes(target))


if __name__ == "__main__":
    unittest.main()
