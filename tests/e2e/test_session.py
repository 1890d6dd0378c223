"""Whole update sessions of the real program against nginx: the message
boxes, the download commands with the server's access log, and closing the
window while a file downloads."""

import os
import pathlib
import time
import unittest

from sessions import (ANALYSING, CAPTION, DONE, IDCANCEL, IDOK, IDABORT, IDRETRY, IDIGNORE,
                      IDYES, IDNO, READING, TITLE, UP_TO_DATE, EXIT_TIMEOUT_S,
                      SessionTestCase, read_bytes, start_enabled)


class MessageBoxTest(SessionTestCase):

    def test_notice_message_alert_and_msgbox(self):
        self.start_updater("QXsBoxes")
        notice = "新的提示：正在升级，请稍候"
        self.publish([
            "2030-01-01",
            "notice," + notice,
            "message,before the boxes",
            "alert,警告：这是一个提示框",
            "msgbox,信息文本,64,信息标题",
            "msgbox,没有样式的文本",
            "msgbox,要继续吗？,33,提问",
            "msgbox,出错了,18,停止",
            "msgbox,小心,52.4,注意,extra,fields,dropped",
            "message,after the boxes",
        ])
        # (title, text, buttons, icon) of each box in turn, and the button
        # that answers it.
        boxes = [
            ((TITLE, "警告：这是一个提示框", [IDOK], "none"), IDOK),
            (("信息标题", "信息文本", [IDOK], "asterisk"), IDOK),
            (("", "没有样式的文本", [IDOK], "none"), IDOK),
            (("提问", "要继续吗？", [IDOK, IDCANCEL], "question"), IDCANCEL),
            (("停止", "出错了", [IDABORT, IDRETRY, IDIGNORE], "hand"), IDABORT),
            (("注意", "小心", [IDYES, IDNO], "exclamation"), IDNO),
        ]
        self.click_start()
        for n, (expected, answer) in enumerate(boxes):
            box = self.expect_box()
            self.check(f"box {n + 1} (title, text, buttons, icon)", expected, self.describe_box(box))
            if n == 0:
                state = self.look()
                self.check_lines("while the first box is open",
                               [READING, ANALYSING, "before the boxes"], self.new_lines(state))
                labels = [s["text"] for s in state["statics"] if s["visible"] and s["text"]]
                self.check("notice label while the first box is open", [notice], labels)
                self.check("start button while a box is open", False, start_enabled(state))
            self.answer_box(answer, box)
        self.check_lines("after the last box", ["after the boxes", DONE], self.wait_session_end())
        state = self.look()
        labels = [s["text"] for s in state["statics"] if s["visible"] and s["text"]]
        self.check("notice label after the session", [notice], labels)


class ClosingTest(SessionTestCase):


    def test_closing_during_a_download_keeps_the_target_and_the_next_session_resumes(self):
        app = self.start_updater("QXsResume")
        target = os.path.join(self.folder("w"), "big.bin")
        pathlib.Path(target).write_bytes(b"the previous version")
        new = os.urandom(3 * 1048576 + 5000)
        self.nginx.put("slow/big.bin", new, mtime=1700000000)
        self.publish(["2030-01-01", "update,/qxupdate/slow/big.bin," + self.win(target)])
        updating = "正在更新文件\"/qxupdate/slow/big.bin\"……"
        part = target + ".part"
        self.click_start()

        # Into the second range, with the window answering and showing how
        # far it is.
        deadline = time.monotonic() + 60
        while not (os.path.exists(part) and os.path.getsize(part) > 1200000):
            if time.monotonic() > deadline:
                self.fail_with_state("the download did not get into its second range within 60 s")
            time.sleep(0.2)
        state = self.look(timeout_ms=2000)
        if state is None:
            self.fail_with_state("the window did not answer during the download")
        bars = [c for c in state["controls"] if c["class"].lower() == "msctls_progress32" and c["visible"]]
        self.check("visible progress bars during the download", 1, len(bars))
        self.check_lines("during the download", [READING, ANALYSING, updating], self.new_lines(state))

        closed_at = time.monotonic()
        r = self.driver.close(caption=CAPTION, exe=self.exe_name)
        self.check(f"close request ({r!r})", True, r.ok)
        self.check("exit code after closing during a download", 0,
                   self.expect_exit(app, EXIT_TIMEOUT_S, "after a close request during a download"))
        if time.monotonic() - closed_at > 5:
            self.fail_with_state("the program outlived the close by more than 5 s")
        self.check("the target after the close", b"the previous version", read_bytes(target))
        kept = os.path.getsize(part)

        # The next session continues from the bytes already there.
        def gets():
            return len([q for q in self.nginx.requests() if q[0] == "GET" and "big.bin" in q[1]])
        gets_before = gets()
        self.seen = 0
        self.start_updater("QXsResume")
        self.check_lines("of the next session", [READING, ANALYSING, updating, DONE], self.run_session())
        self.check("the target after the next session", True, read_bytes(target) == new)
        self.check("its time stamp", 1700000000, int(os.path.getmtime(target)))
        self.check("files left beside the target", ["big.bin"], sorted(os.listdir(os.path.dirname(target))))
        self.check(f"GETs of the next session after {kept} bytes kept", -(-(len(new) - kept) // 1048576),
                   gets() - gets_before)


class DownloadTest(SessionTestCase):

    def test_down_create_and_update_targets_and_the_requests_they_cost(self):
        self.start_updater("QXsDownload")
        w = self.folder("w")
        server_time = 1500000000  # 2017-07-14 02:40:00 UTC
        files = {name: f"{name} from the server\r\n".encode() * (n + 1)
                 for n, name in enumerate(["a.txt", "b.txt", "c.txt", "d.txt"])}
        for name, data in files.items():
            self.nginx.put(name, data, mtime=server_time)
        with open(os.path.join(w, "c.txt"), "wb") as f:
            f.write(b"the local c.txt\r\n")
        self.publish([
            "2030-01-01",
            "workpath," + self.win(w),
            "down,a.txt",
            "down,a.txt,rel\\a.txt",
            "update,b.txt",
            "update,b.txt?v=3,sub\\b3.txt",
            "create,c.txt",
            "create,d.txt",
        ])
        expected_lines = [
            READING, ANALYSING,
            '正在设置工作目录"' + self.win(w) + '\\"……',
            '正在下载文件"a.txt"……',
            '正在下载文件"a.txt"……',
            '正在更新文件"b.txt"……',
            '正在更新文件"b.txt?v=3"……',
            '正在创建文件"c.txt"……',
            '正在创建文件"d.txt"……',
            DONE,
        ]
        fetch = lambda name: [("HEAD", "/qxupdate/" + name, 200), ("GET", "/qxupdate/" + name, 206)]
        self.check_lines("of the first run", expected_lines, self.run_session())
        self.check("requests of the first run",
                   fetch("update.inf") + fetch("a.txt") * 2 + fetch("b.txt") * 2 + fetch("d.txt"),
                   self.nginx.requests())
        targets = {
            "down without a target": (os.path.join(w, "Temp", "a.txt"), files["a.txt"]),
            "down to a relative target": (os.path.join(self.work_dir, "rel", "a.txt"), files["a.txt"]),
            "update without a target": (os.path.join(w, "b.txt"), files["b.txt"]),
            "update with a query and a relative target": (os.path.join(w, "sub", "b3.txt"), files["b.txt"]),
            "create of an existing file": (os.path.join(w, "c.txt"), b"the local c.txt\r\n"),
            "create of a new file": (os.path.join(w, "d.txt"), files["d.txt"]),
        }
        for what, (path, data) in targets.items():
            got = read_bytes(path) if os.path.exists(path) else None
            self.check(f"content after {what} ({path})", data, got)
        for what in ("down without a target", "update without a target", "create of a new file"):
            path = targets[what][0]
            self.check(f"file time after {what}", server_time, int(os.path.getmtime(path)))

        # Again: the question (same stamp), then down fetches anew, update
        # asks only for the head of its unchanged file, create asks nothing.
        mark = len(self.nginx.requests())
        self.click_start()
        self.expect_box()
        self.answer_box(IDOK)
        self.check_lines("of the second run", expected_lines[:2] + [UP_TO_DATE] + expected_lines[2:],
                         self.wait_session_end())
        head = lambda name: [("HEAD", "/qxupdate/" + name, 200)]
        self.check("requests of the second run",
                   fetch("update.inf") + fetch("a.txt") * 2 + head("b.txt") * 2,
                   self.requests_since(mark))


if __name__ == "__main__":
    unittest.main()
