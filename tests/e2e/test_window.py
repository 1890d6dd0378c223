"""The updater window and start-up, seen from outside: what the window shows,
the start button's delayed enabling, the refusal of a second instance, and
the ways of closing."""

import json
import os
import time
import unittest

from harness import VERSION, UpdaterTestCase, describe_window

TITLE = "在线升级程序"
CAPTION = TITLE + "(版本" + VERSION + ")"
NOTICE = "注意：升级前请先关闭所有IE窗口，升级过程中请不要操作鼠标或键盘。"
START = "开始升级"
CLOSE = "关闭窗口"
ALREADY_RUNNING = TITLE + "程序已经运行！"
IDOK = 1
SC_CLOSE = 0xF060

WINDOW_TIMEOUT_S = 30   # Wine may have to start its server first
ENABLE_TIMEOUT_S = 5
EXIT_TIMEOUT_S = 10


def visible_buttons(state):
    return [b for b in state.get("buttons", []) if b["visible"]]


def button(state, text):
    for b in visible_buttons(state):
        if b["text"] == text:
            return b
    return None


def progress_list(state):
    lists = state.get("lists", [])
    return lists[0] if len(lists) == 1 else None


def summary(state):
    """What must not change in a window that nobody touched."""
    lst = progress_list(state) or {}
    return {
        "hwnd": state["hwnd"],
        "caption": state["caption"],
        "statics": [s["text"] for s in state.get("statics", []) if s["visible"]],
        "buttons": [(b["text"], b["enabled"]) for b in visible_buttons(state)],
        "list": lst.get("items"),
    }


class WindowTestCase(UpdaterTestCase):

    def wait_for_window(self, app, exe=None):
        state = self.state_of(app, caption=CAPTION, exe=exe, timeout_ms=WINDOW_TIMEOUT_S * 1000)
        if state is None:
            self.fail_with_state(f"expected a window captioned {CAPTION!r} within "
                                 f"{WINDOW_TIMEOUT_S} s; the driver said: {self.driver.last!r}")
        return state

    def wait_ready(self, app, exe=None):
        """The window, once its start button has been enabled."""
        self.wait_for_window(app, exe)

        def ready(state):
            start = button(state, START)
            return start is not None and start["enabled"]

        return self.wait_for_state(ready, ENABLE_TIMEOUT_S,
                                   f"the button {START!r} enabled after the window appeared",
                                   app=app, caption=CAPTION, exe=exe)


class WindowContentTest(WindowTestCase):

    def test_window_shows_caption_notice_empty_list_and_two_buttons(self):
        app = self.start()
        state = self.wait_ready(app)
        self.check("caption", CAPTION, state["caption"])
        statics = [s["text"] for s in state["statics"] if s["visible"]]
        self.check("texts of the labels", [NOTICE], [t for t in statics if t])
        lst = progress_list(state)
        self.check("number of list boxes", 1, len(state["lists"]))
        self.check("progress list readable", True, lst["readable"])
        self.check("progress list after a start without parameters", [], lst["items"])
        self.check("visible buttons", sorted([START, CLOSE]),
                   sorted(b["text"] for b in visible_buttons(state)))
        self.check("close button enabled", True, button(state, CLOSE)["enabled"])
        self.expect_running(app, "after start-up")

    def test_layout_follows_the_design_positions(self):
        # The design gives positions in twips; 15 twips are one pixel at the
        # 96 dpi Wine uses. A list box may shrink to whole lines, so its
        # bottom edge gets one line of slack.
        app = self.start()
        state = self.wait_ready(app)
        slack = 2
        client = state["client"]
        size = (client["right"] - client["left"], client["bottom"] - client["top"])
        if abs(size[0] - 507) > slack or abs(size[1] - 282) > slack:
            self.fail_with_state(f"client area: expected about 507 x 282 pixels, got {size}")

        def rect_of(kind, ctl):
            r = ctl["rect"]
            return kind, (r["left"], r["top"], r["right"] - r["left"], r["bottom"] - r["top"])

        notice = [s for s in state["statics"] if s["text"] == NOTICE]
        self.check("labels with the notice", 1, len(notice))
        expected = {
            "notice": (10, 6, 489, 13),
            "list": (9, 24, 490, 220),
            "start": (138, 249, 94, 25),
            "close": (252, 249, 94, 25),
        }
        actual = dict([rect_of("notice", notice[0]),
                       rect_of("list", [c for c in state["controls"] if c["class"].lower() == "listbox"][0]),
                       rect_of("start", button(state, START)),
                       rect_of("close", button(state, CLOSE))])
        for name, want in expected.items():
            got = actual[name]
            height_slack = 16 if name == "list" else slack
            off = [abs(g - w) for g, w in zip(got, want)]
            if max(off[:3]) > slack or off[3] > height_slack:
                self.fail_with_state(f"{name}: expected left, top, width, height about {want}, "
                                     f"got {got}; all: {actual}")

        # Tab order: list, start button, close button. Sibling windows are
        # enumerated in the order the tab key follows.
        order = []
        for c in state["controls"]:
            if c["class"].lower() == "listbox":
                order.append("list")
            elif c["text"] in (START, CLOSE) and c["class"].lower() == "button":
                order.append(c["text"])
        self.check("tab order of the focusable controls", ["list", START, CLOSE], order)


class StartButtonTest(WindowTestCase):

    def test_start_button_is_disabled_at_first_and_enabled_half_a_second_later(self):
        # The watching driver runs before the updater starts, so it sees the
        # window within a few milliseconds of it being shown.
        reader = self.watch_enable(START, timeout_ms=40000, caption=CAPTION)
        app = self.start()
        seen_line = reader.readline(WINDOW_TIMEOUT_S + 15)
        if seen_line is None:
            self.fail_with_state(f"the window {CAPTION!r} did not appear; watcher said {reader.lines}")
        seen = json.loads(seen_line)
        self.check("first event of the watcher", "seen", seen.get("event"))
        if seen["button"] is None:
            self.fail_with_state(f"no visible button {START!r} when the window appeared: {seen}")
        if seen["button"]["enabled"]:
            self.fail_with_state(f"expected {START!r} disabled when the window first appeared, "
                                 f"but it was enabled: {seen}")
        enabled_line = reader.readline(ENABLE_TIMEOUT_S + 15)
        if enabled_line is None:
            self.fail_with_state(f"expected {START!r} enabled within {ENABLE_TIMEOUT_S} s; "
                                 f"watcher said {reader.lines}")
        enabled = json.loads(enabled_line)
        self.check("second event of the watcher", "enabled", enabled.get("event"))
        delay = enabled["t_ms"] - seen["t_ms"]
        # The timer fires 500 ms after the window was created, which is a
        # little before it is shown: an immediate enabling is a fault, and so
        # is anything slower than a few seconds.
        if not 100 <= delay <= ENABLE_TIMEOUT_S * 1000:
            self.fail_with_state(f"expected {START!r} enabled about 500 ms after the window "
                                 f"appeared (between 100 and {ENABLE_TIMEOUT_S * 1000} ms), "
                                 f"got {delay} ms")
        self.expect_running(app, "after the start button was enabled")
        state = self.state_of(app, caption=CAPTION)
        self.check("list after the start-up timer", [], progress_list(state)["items"])


class SecondInstanceTest(WindowTestCase):

    def test_second_start_of_the_same_program_is_refused_and_the_first_is_untouched(self):
        first = self.start(name="first")
        before = self.wait_ready(first)

        second = self.start(name="second")
        box = self.driver.msgbox(title=TITLE, timeout_ms=WINDOW_TIMEOUT_S * 1000)
        if box is None:
            self.fail_with_state(f"expected a message box titled {TITLE!r} from the second "
                                 f"start; the driver said: {self.driver.last!r}")
        self.check("message box title", TITLE, box["title"])
        self.check("message box text", ALREADY_RUNNING, box["text"])
        self.check("message box buttons (control ids)", [IDOK], [b["id"] for b in box["buttons"]])
        if box["pid"] == before["pid"]:
            self.fail_with_state(f"the message box belongs to the first program: {box}")

        # While the box is up, the refused program shows no window of its own.
        windows = self.driver.run("list", exe=os.path.basename(first.path)).objects
        own = [w for w in windows if w.get("pid") == box["pid"] and w.get("class") != "#32770"]
        self.check("other windows of the refused program", [], own)
        count, _ = self.driver.count(caption=CAPTION)
        self.check(f"windows captioned {CAPTION!r} while the box is up", 1, count)

        r = self.driver.answer(button_id=IDOK, title=TITLE)
        self.check(f"answering the box ({r!r})", True, r.ok)
        self.expect_exit(second, EXIT_TIMEOUT_S, "after its message box was answered")

        self.expect_running(first, "after a second start was refused")
        self.check("message boxes left", None, self.driver.msgbox(title=TITLE))
        after = self.state_of(first, caption=CAPTION)
        if after is None:
            self.fail_with_state(f"the first window is gone; the driver said {self.driver.last!r}")
        self.check("the first window", summary(before), summary(after))


class RenamedCopyTest(WindowTestCase):

    def test_copy_under_another_file_name_runs_beside_the_installed_one(self):
        # The self-update runs a copy named QXUpdateTemp.exe while the
        # installed program is still open; it must not be refused.
        installed = self.start(self.copy_exe("QXUpdate.exe"), name="installed")
        self.wait_ready(installed, exe="QXUpdate.exe")
        temp = self.start(self.copy_exe("QXUpdateTemp.exe"), name="temp")

        count, windows = self.driver.count(expect=2, caption=CAPTION,
                                           timeout_ms=WINDOW_TIMEOUT_S * 1000)
        if count != 2:
            self.fail_with_state(f"expected two windows captioned {CAPTION!r}, got {count}: "
                                 f"{windows}")
        self.check("programs owning the windows", ["qxupdate.exe", "qxupdatetemp.exe"],
                   sorted(os.path.basename(w["exe"].replace("\\", "/")).lower() for w in windows))
        self.check("message box after starting the copy", None, self.driver.msgbox(title=TITLE))
        copy_state = self.wait_ready(temp, exe="QXUpdateTemp.exe")
        self.check("caption of the copy's window", CAPTION, copy_state["caption"])

        r = self.driver.close(exe="QXUpdateTemp.exe", caption=CAPTION)
        self.check(f"close request to the copy ({r!r})", True, r.ok)
        self.check("exit code of the copy", 0,
                   self.expect_exit(temp, EXIT_TIMEOUT_S, "after a close request"))
        self.expect_running(installed, "after the copy closed")
        count, windows = self.driver.count(caption=CAPTION)
        self.check("windows left", ["qxupdate.exe"],
                   [os.path.basename(w["exe"].replace("\\", "/")).lower() for w in windows])


class ClosingTest(WindowTestCase):

    def close_and_expect_exit(self, how, act):
        app = self.start()
        state = self.wait_ready(app)
        r = act()
        self.check(f"{how} ({r!r})", True, r.ok)
        code = self.expect_exit(app, EXIT_TIMEOUT_S, f"after {how}")
        self.check(f"exit code after {how}", 0, code)
        count, windows = self.driver.count(caption=CAPTION)
        self.check(f"windows captioned {CAPTION!r} after {how}", 0, count)
        return state

    def test_close_button_ends_the_program(self):
        self.close_and_expect_exit(f"clicking {CLOSE!r}",
                                   lambda: self.driver.click(CLOSE, caption=CAPTION))

    def test_close_request_ends_the_program(self):
        self.close_and_expect_exit("a WM_CLOSE request",
                                   lambda: self.driver.close(caption=CAPTION))

    def test_close_from_the_system_menu_ends_the_program(self):
        self.close_and_expect_exit("the system menu's close command",
                                   lambda: self.driver.syscommand(SC_CLOSE, caption=CAPTION))


if __name__ == "__main__":
    unittest.main()
