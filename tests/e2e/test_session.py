"""Whole update sessions of the real program against nginx: the stamp and
the question, the script's line rules, the message boxes, waiting, the work
folder, the download commands with the server's access log, a failure in
the middle of a script, and closing the window while a script waits or a
file downloads."""

import os
import pathlib
import time
import unittest

from sessions import (ANALYSING, CAPTION, DONE, FAILED, IDCANCEL, IDOK, IDABORT, IDRETRY, IDIGNORE,
                      IDYES, IDNO, QUESTION, READING, TITLE, UP_TO_DATE, EXIT_TIMEOUT_S,
                      SessionTestCase, items_of, read_bytes, start_enabled, store_stamp,
                      stored_stamp)


class StampTest(SessionTestCase):

    def test_stamp_decides_whether_to_ask_and_is_stored_after_a_complete_run(self):
        self.start_updater("QXsStamp")

        # A script newer than the default stamp and holding only its stamp.
        self.publish(["2030-01-02"])
        self.check_lines("of a stamp-only script", [READING, ANALYSING, DONE], self.run_session())
        self.check("stored stamp after the stamp-only script", "2030-01-02",
                   stored_stamp(self.base_name))
        self.expect_no_box()

        # The same stamp again is not newer: the question, answered Cancel.
        self.click_start()
        box = self.expect_box()
        self.check("the question box (title, text, buttons, icon)",
                   (TITLE, QUESTION, [IDOK, IDCANCEL], "question"), self.describe_box(box))
        state = self.look()
        self.check("start button while the question is open", False, start_enabled(state))
        self.check_lines("before the question is answered", [READING, ANALYSING, UP_TO_DATE],
                         self.new_lines(state))
        self.answer_box(IDCANCEL, box)
        self.check_lines("after Cancel", [],
                         self.new_lines(self.wait_for(start_enabled, 10, "the start button enabled")))
        self.check("stored stamp after Cancel", "2030-01-02", stored_stamp(self.base_name))

        # An older script, confirmed with OK, runs and sets the stamp back.
        self.publish(["2029-05-01", "message,older script ran"])
        self.click_start()
        box = self.expect_box()
        self.check("the question for an older script", (TITLE, QUESTION),
                   (box["title"], box["text"]))
        self.answer_box(IDOK, box)
        self.check_lines("of an older script confirmed with OK",
                         [READING, ANALYSING, UP_TO_DATE, "older script ran", DONE],
                         self.wait_session_end())
        self.check("stored stamp after the older script", "2029-05-01", stored_stamp(self.base_name))

        # The same day with a time of day is later: no question. The other
        # date form is read too, and the stamp is stored in the usual one.
        self.publish(["2029/5/1 10:00:00", "message,time of day counts"])
        self.check_lines("of a stamp with a time of day",
                         [READING, ANALYSING, "time of day counts", DONE], self.run_session())
        self.expect_no_box()
        self.check("stored stamp with a time of day", "2029-05-01 10:00:00",
                   stored_stamp(self.base_name))

    def test_stored_stamp_with_time_is_compared_with_its_time(self):
        self.start_updater("QXsStampTime")
        store_stamp(self.base_name, "2006-05-18 10:00:00")
        # Earlier on the same day: not newer.
        self.publish(["2006-05-18 09:59:59", "message,must not run"])
        self.click_start()
        box = self.expect_box()
        self.check("question for an earlier time of day", QUESTION, box["text"])
        self.answer_box(IDCANCEL)
        self.wait_for(start_enabled, 10, "the start button enabled after Cancel")
        self.check_lines("after Cancel", [READING, ANALYSING, UP_TO_DATE], self.new_lines())
        self.check("stored stamp after Cancel", "2006-05-18 10:00:00", stored_stamp(self.base_name))


class ScriptLinesTest(SessionTestCase):

    def test_a_script_that_cannot_be_read_ends_before_any_line(self):
        self.start_updater("QXsNotDate")
        cases = [
            ("line 1 not a date", ["version 7", "message,must not run"], "\r\n"),
            ("line feeds alone (one long line)", ["2030-01-01", "message,must not run"], "\n"),
            ("an empty file", [], "\r\n"),
        ]
        for what, lines, line_end in cases:
            self.publish(lines, line_end)
            self.check_lines(f"of a script with {what}", [READING, FAILED], self.run_session())
            self.expect_no_box()
            self.check(f"stored stamp after a script with {what}", None,
                       stored_stamp(self.base_name))

    def test_keywords_fields_and_blanks(self):
        self.start_updater("QXsKeywords")
        self.publish([
            "2030-01-01",
            "message,plain",
            "MESSAGE,capitals",
            "MeSsAgE,mixed case",
            " message,blank before the keyword",
            "message ,blank after the keyword",
            "frobnicate,unknown keyword",
            "",
            "#message,no comment syntax either",
            "message, blank after the comma is kept",
            "message,first,second,third,fourth,fifth,sixth,seventh",
            "message,中文参数,第二个字段",
            "message",
        ])
        self.check_lines("of a script with odd keywords and fields", [
            READING, ANALYSING,
            "plain",
            "capitals",
            "mixed case",
            " blank after the comma is kept",
            "first",
            "中文参数",
            "",
            DONE,
        ], self.run_session())
        self.check("stored stamp", "2030-01-01", stored_stamp(self.base_name))


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


class WaitTest(SessionTestCase):

    def test_wait_pauses_the_script_and_the_window_keeps_answering(self):
        self.start_updater("QXsWait")
        self.publish(["2030-01-01", "message,before the wait", "wait,2", "message,after the wait"])
        self.click_start()
        self.wait_for_line("before the wait")
        seen_before = time.monotonic()
        answered_while_waiting = 0
        deadline = seen_before + 15
        while True:
            state = self.look()
            items = items_of(state)
            if items is not None and "after the wait" in items[self.seen:]:
                break
            if items is not None:
                answered_while_waiting += 1
            if time.monotonic() > deadline:
                self.fail_with_state("the line after a wait of 2 s did not come within 15 s")
            time.sleep(0.1)
        seen_after = time.monotonic()
        # A wait of 2 s lasts about 2.5 s; each look may lag by one poll.
        gap = seen_after - seen_before
        if not 1.4 <= gap <= 5.0:
            self.fail_with_state(f"expected about 2.5 s between the lines around 'wait,2', got "
                                 f"{gap:.2f} s")
        if answered_while_waiting == 0:
            self.fail_with_state("the progress list could not be read during the wait: the "
                                 "window did not process messages")
        self.check_lines("around the wait",
                         [READING, ANALYSING, "before the wait", "after the wait", DONE],
                         self.wait_session_end())


class ClosingTest(SessionTestCase):

    def test_closing_during_a_wait_ends_the_program_and_runs_no_further_line(self):
        app = self.start_updater("QXsClose")
        w = self.folder("w")
        self.nginx.put("late.txt", b"a line after the close fetched this\r\n")
        late = os.path.join(w, "late.txt")
        self.publish(["2030-01-01", "message,before the close", "wait,30", "message,after the close",
                      "down,late.txt," + self.win(late)])
        self.click_start()
        state = self.wait_for_line("before the close")
        self.check_lines("before the close", [READING, ANALYSING, "before the close"],
                         self.new_lines(state))
        closed_at = time.monotonic()
        r = self.driver.close(caption=CAPTION, exe=self.exe_name)
        self.check(f"close request ({r!r})", True, r.ok)
        code = self.expect_exit(app, EXIT_TIMEOUT_S, "after a close request during a wait")
        self.check("exit code after closing during a wait", 0, code)
        if time.monotonic() - closed_at > EXIT_TIMEOUT_S:
            self.fail_with_state("the program outlived the close by more than 10 s")
        self.check("a file that a line after the close would download exists", False,
                   os.path.exists(late))
        self.check("requests for the file of a line after the close", [],
                   [r for r in self.nginx.requests() if "late.txt" in r[1]])
        self.check("stored stamp after closing in the middle", None, stored_stamp(self.base_name))


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


class WorkPathTest(SessionTestCase):

    def test_workpath_moves_the_work_and_temp_folders_of_later_lines(self):
        self.start_updater("QXsWorkPath")
        w = os.path.join(self.work_dir, "new work")
        self.nginx.put("a.txt", b"into the temp folder\r\n")
        self.publish([
            "2030-01-01",
            "message,$WorkDir\\|$TempDir\\",
            "workpath," + self.win(w),
            "message,$WorkDir\\",
            "message,$TempDir\\",
            "message,$workdir\\ $WorkDir $TempDir",
            "down,a.txt",
        ])
        ww = self.win(w) + "\\"
        self.check_lines("of a script that changes the work folder", [
            READING, ANALYSING,
            "c:\\qxwork\\|c:\\qxwork\\temp\\",
            '正在设置工作目录"' + ww + '"……',
            ww,
            ww + "Temp\\",
            "$workdir\\ $WorkDir $TempDir",
            '正在下载文件"a.txt"……',
            DONE,
        ], self.run_session())
        self.check("work folder made", True, os.path.isdir(w))
        self.check("temp folder made", True, os.path.isdir(os.path.join(w, "Temp")))
        self.check("down without a target lands in the new temp folder",
                   b"into the temp folder\r\n", read_bytes(os.path.join(w, "Temp", "a.txt")))


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


class FailureTest(SessionTestCase):

    def test_a_failing_line_ends_the_session_with_the_catch_all_line(self):
        self.start_updater("QXsFailure")
        # (failing line, what it logs itself before failing)
        cases = [
            ("msgbox,never shown,1E20,t", []),
            ("wait,1e39", []),
            ("regdelete,NoBackslash", ['正在删除注册表信息"NoBackslash"……']),
        ]
        for failing, own_lines in cases:
            self.publish(["2030-01-01", "message,first line ran", failing, "message,must not run"])
            self.check_lines(f"of a script failing at {failing!r}",
                             [READING, ANALYSING, "first line ran"] + own_lines + [FAILED],
                             self.run_session())
            self.expect_no_box()
            self.check(f"stored stamp after a failure at {failing!r}", None,
                       stored_stamp(self.base_name))

if __name__ == "__main__":
    unittest.main()
