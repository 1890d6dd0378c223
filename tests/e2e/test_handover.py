"""Hand-overs between real copies of the updater under Wine. The installed copy A hands over to a
temporary copy T, which closes A by its window caption, rewrites or replaces A's program file and
restarts it as N, which closes T and deletes T's file. Drivers follow A and T from before the hand-over
starts, so their last progress lines and the tags in their captions are seen though they live for about
a second. QX_EXE_NEXT is the same updater built as the next version, QX_VERSION_NEXT its version."""

import json
import os
import re
import shutil
import subprocess
import time
import unittest

from harness import (ANALYSING, BUILD_DIR, CAPTION, DONE, DRIVER, DRIVER_OVERHEAD_S, EXE, IDCANCEL, IDOK, READING,
                     SETTINGS_ROOT, TITLE, WINE_RUN, Driver, Nginx, SessionTestCase,
                     forget_settings, hexu, items_of, linux_path, prefix_processes, read_bytes, reg_values,
                     script_bytes, start_enabled, stored_stamp, write_address)

EXE_NEXT = os.environ.get("QX_EXE_NEXT") or os.path.join(BUILD_DIR, "qxupdate-1.1.2", "QXUpdate.exe")
VERSION_NEXT = os.environ.get("QX_VERSION_NEXT") or "1.1.2"

CAPTION_NEXT = TITLE + "(版本" + VERSION_NEXT + ")"
INSTALLED_NAME = "QXUpdate.exe"
TEMP_NAME = "QXUpdateTemp.exe"
UPDATE_KEY = SETTINGS_ROOT + r"\QXUpdate\Update"
# Where a newer updater is downloaded to with the default work folder.
DOWNLOADED_WIN = r"C:\qxwork\temp" + "\\" + TEMP_NAME
INSTALL_ROOT_WIN = r"C:\qxho"

STARTING_NEW = "正在启动新的更新程序……"
TEMP_LINES = ["正在退出旧版本升级程序……", "正在复制新的更新程序……", STARTING_NEW]
RESTARTED_LINES = ["正在退出临时程序……", "更换旧版本的升级程序成功。", "请按“开始升级”按钮重新进行升级。"]
MENU_SET_ADDRESS, EDIT_ID, TRAILER_SIZE, FILE_RETRY_S, HANDOVER_TIMEOUT_S = 100, 101, 32, 3.0, 40


class Follower:
    """A driver following one window until it is gone. Its JSON lines go to a file in the test's folder:
    each caption and change of the progress list with the time it was seen, then every caption and the
    last readable list."""

    def __init__(self, test, who, timeout_s, **selector):
        self.test, self.who, self.path = test, who, os.path.join(test.work_dir, f"follow-{who}.jsonl")
        argv = ["follow", "--timeout-ms", str(int(timeout_s * 1000)), *Driver.selector(**selector)]
        with open(self.path, "wb") as out:
            test.watchers.append(subprocess.Popen([WINE_RUN, DRIVER, *argv], stdin=subprocess.DEVNULL,
                                                  stdout=out, stderr=subprocess.DEVNULL))
        # Ready once it printed its first line: only then may the window start to go.
        if not test.poll(self.events, bool, DRIVER_OVERHEAD_S)[1]:
            test.fail_with_state(f"the driver following {who} did not get ready")

    def events(self):
        with open(self.path, "rb") as f:
            lines = f.read().decode("utf-8", "replace").splitlines(True)
        return [json.loads(line) for line in lines if line.endswith("\n")]

    def gone(self):
        """The last event once the window has gone, else None."""
        last = self.events()[-1]
        if "error" in last:
            self.test.fail_with_state(f"the driver following {self.who}: {last['error']}; it saw:{self.history()}")
        return last if last.get("event") == "gone" else None

    def history(self):
        return "".join(f"\n    {e['t_ms']} ms: " + (f"caption {e['caption']!r}" if "caption" in e else
                                                   f"lines {e['items']}" if e.get("items") is not None else e["event"])
                       for e in self.events() if "t_ms" in e) or " nothing"


class HandOverTestCase(SessionTestCase):
    """Each test installs the updater as QXUpdate.exe in a folder of its own on drive C: of the prefix,
    with the hand-over settings, the stamp and the download folder's temporary copy cleared around it."""

    time_limit_s = 150

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(EXE_NEXT):
            raise AssertionError(f"the next version's updater is missing: {EXE_NEXT} (build the Windows tree first)")

    def setUp(self):
        super().setUp()
        self._clear_shared_state()
        self.addCleanup(self._clear_shared_state)
        self.install_dir = linux_path(INSTALL_ROOT_WIN + "\\" + self._testMethodName)
        shutil.rmtree(self.install_dir, ignore_errors=True)
        # Left in place afterwards for a look at what a failed test left.
        os.makedirs(self.install_dir)
        self.installed = os.path.join(self.install_dir, INSTALLED_NAME)
        self.base_name, self.exe_name = "QXUpdate", INSTALLED_NAME
        self.seen_processes = {}

    def _clear_shared_state(self):
        # Every copy, whatever its name, shares the "Update" section; the stamp belongs to the base name.
        for base in ("QXUpdate", "QXUpdateTemp"):
            forget_settings(base)
        try:
            os.remove(linux_path(DOWNLOADED_WIN))
        except FileNotFoundError:
            pass

    # ------------------------------------------------------------ setting up

    def addressed_copy(self, source, path, address):
        shutil.copy2(source, path)
        write_address(path, address)
        return read_bytes(path)

    def start_installed(self):
        return self.start_app(self.installed, self.install_dir, "A")

    def second_server(self):
        other = Nginx().start()
        self.addCleanup(other.stop)
        return other

    # ------------------------------------------------------------ watching

    def note_processes(self):
        """Remembers (program, arguments) of every program seen running in the prefix, some behind Wine's
        loader. A new process first runs as a fork of the program that starts it: the last look counts."""
        for pid, argv in prefix_processes():
            if argv and os.path.basename(argv[0]) in ("wine", "wine64", "wine-preloader"):
                argv = argv[1:]
            if argv:
                self.seen_processes[pid] = (argv[0].replace("/", "\\"), argv[1:])

    def started_with(self, exe_name, what=1):
        """The arguments (what=1) or program paths (what=0) of each copy seen running exe_name."""
        return [seen[what] for seen in self.seen_processes.values()
                if seen[0].lower().endswith("\\" + exe_name.lower())]

    def follow_handover(self, a_state):
        """Followers of A (by its handle) and of T (by its file name)."""
        return (Follower(self, "A", HANDOVER_TIMEOUT_S + 20, hwnd=a_state["hwnd"]),
                Follower(self, "T", HANDOVER_TIMEOUT_S + 20, exe=TEMP_NAME))

    def wait_handover(self, follow_a, follow_t):
        """Waits until A and T are gone, noting the copies' command lines."""
        deadline = time.monotonic() + HANDOVER_TIMEOUT_S
        for f in (follow_a, follow_t):
            while f.gone() is None:
                self.note_processes()
                if time.monotonic() > deadline:
                    self.fail_with_state(f"{f.who} should have closed within {HANDOVER_TIMEOUT_S} s of the "
                                         f"hand-over's start; what the driver saw of it:{f.history()}")
                time.sleep(0.05)
        self.note_processes()

    def check_chain(self, follow_a, follow_t, caption_t, a_lines):
        """A and T each took a fresh tag as caption and passed it on as the next copy's only argument;
        their last progress lines; N shows its lines."""
        a_caps, t_caps = follow_a.gone()["captions"], follow_t.gone()["captions"]
        self.check("captions of A and of T, <tag> standing for 32 characters 0-9A-F",
                   [[CAPTION, "<tag>"], [caption_t, "<tag>"]],
                   [[re.sub("^[0-9A-F]{32}$", "<tag>", c or "") for c in caps] for caps in (a_caps, t_caps)])
        self.check(f"T's tag differs from A's {a_caps[1]!r}", True, t_caps[1] != a_caps[1])
        for f, lines in ((follow_a, a_lines), (follow_t, TEMP_LINES)):
            if f.gone()["items"] != lines:
                self.fail_with_state(f"{f.who}'s last progress lines: expected {lines!r}, got "
                                     f"{f.gone()['items']!r}; what the driver saw:{f.history()}")
        self.check("the arguments T was started with", [[a_caps[1]]], self.started_with(TEMP_NAME))
        self.wait_for(lambda s: items_of(s) == RESTARTED_LINES and start_enabled(s), 15,
                      f"the restarted copy showing {RESTARTED_LINES} and its start button enabled")
        self.note_processes()
        self.check("the arguments N was started with", [[t_caps[1]]],
                   [args for args in self.started_with(INSTALLED_NAME) if args])
        self.seen = len(RESTARTED_LINES)

    def check_next_session(self, new_server, old_server, stamp, text):
        """The restarted copy's next session reads the script from new_server alone."""
        mark = len(old_server.requests())
        for server, said in ((old_server, "old server"), (new_server, text)):
            server.put("update.inf", script_bytes([stamp, "message," + said]))
        self.check_lines("of the session after the hand-over", [READING, ANALYSING, text, DONE], self.run_session())
        got = new_server.requests()
        if not got or any(uri != "/qxupdate/update.inf" or status >= 300 for _, uri, status in got) \
                or "GET" not in [method for method, _, _ in got]:
            self.fail_with_state(f"requests to the new server: expected the script fetched, got {got}")
        self.check("requests to the old server after the hand-over", [], old_server.requests()[mark:])

    def check_left_behind(self):
        """Nothing of the hand-over is left: the folder holds the installed file alone, the hand-over
        settings are gone, no temporary copy runs."""
        files, _ = self.poll(lambda: os.listdir(self.install_dir), lambda f: f == [INSTALLED_NAME], FILE_RETRY_S + 2)
        self.check("files in the installed folder", [INSTALLED_NAME], files)
        self.check("hand-over settings left", {}, reg_values(UPDATE_KEY))
        self.check("windows of a temporary copy still open", [], self.driver.windows(exe=TEMP_NAME))


class AddressHandOverTest(HandOverTestCase):

    def test_new_address_from_the_system_menu_rewrites_the_trailer_and_is_used(self):
        old_server, new_server = self.nginx, self.second_server()
        original = self.addressed_copy(EXE, self.installed, old_server.address)
        a_state = self.start_installed()
        follow_a, follow_t = self.follow_handover(a_state)

        r = self.driver.run("syscommand", str(MENU_SET_ADDRESS), caption=CAPTION, exe=INSTALLED_NAME)
        if not r.ok:
            self.fail_with_state(f"could not pick the menu item: {r!r}")
        dialog = self.expect_box()
        self.check("the dialog's title, prompt and buttons",
                   (TITLE, "请输入在线升级服务器的IP地址：", [(IDOK, "确定"), (IDCANCEL, "取消")]),
                   (dialog["title"], dialog["text"], sorted((b["id"], b["text"]) for b in dialog["buttons"])))
        typed = self.driver.run("settext", hexu(new_server.address), "--id", str(EDIT_ID),
                                hwnd=dialog["hwnd"])
        if not typed.ok:
            self.fail_with_state(f"could not type the new address: {typed!r}")
        self.check("the address the dialog offered", old_server.address, typed.first["before"])
        self.answer_box(IDOK, dialog)

        self.wait_handover(follow_a, follow_t)
        self.check_chain(follow_a, follow_t, CAPTION, ["正在设置升级服务器地址……"])

        now = read_bytes(self.installed)
        self.check("length of the installed file", len(original), len(now))
        if now[:-TRAILER_SIZE] != original[:-TRAILER_SIZE]:
            first = next(i for i, (x, y) in enumerate(zip(now, original)) if x != y)
            self.fail_with_state(f"the installed file changed before its trailer, first at byte {first}")
        self.check("trailer of the installed file", new_server.address.encode().ljust(TRAILER_SIZE, b"\0"),
                   now[-TRAILER_SIZE:])
        self.check_left_behind()

        self.check_next_session(new_server, old_server, "2030-01-01", "new server")


class VersionHandOverTest(HandOverTestCase):

    def test_newer_version_takes_the_installed_files_place_and_restarts(self):
        new_server = self.second_server()
        new_file = self.addressed_copy(EXE_NEXT, os.path.join(self.work_dir, "qxnew.exe"), new_server.address)
        self.nginx.put("qxnew.exe", new_file)
        self.addressed_copy(EXE, self.installed, self.nginx.address)
        self.publish(["2030-01-01", f"ver,qxnew.exe,{VERSION_NEXT}", "message,after the ver line"])
        a_state = self.start_installed()
        follow_a, follow_t = self.follow_handover(a_state)
        self.click_start()

        self.wait_handover(follow_a, follow_t)
        self.caption = CAPTION_NEXT
        self.check_chain(follow_a, follow_t, CAPTION_NEXT,
                         [READING, ANALYSING, "正在检查版本号……", '正在下载文件"qxnew.exe"……', STARTING_NEW])
        self.check("T ran from the download folder", [DOWNLOADED_WIN.lower()],
                   [p.lower() for p in self.started_with(TEMP_NAME, 0)])

        if read_bytes(self.installed) != new_file:
            self.fail_with_state("the installed file is not the downloaded one "
                                 f"({len(read_bytes(self.installed))} bytes, expected {len(new_file)})")
        self.check_left_behind()
        self.check("the downloaded copy left in the download folder", False,
                   os.path.exists(linux_path(DOWNLOADED_WIN)))
        self.check("stamp after a session stopped by the ver line", None, stored_stamp("QXUpdate"))
        asked = [(m, status) for m, uri, status in self.nginx.requests() if uri == "/qxupdate/qxnew.exe"]
        if not asked or asked[0] != ("HEAD", 200) or any(a != ("GET", 206) for a in asked[1:]) \
                or len(asked) < 2:
            self.fail_with_state(f"requests for the new version: expected a HEAD answered 200 and "
                                 f"range GETs answered 206, got {asked}")

        # The new version's own address is the one in use now.
        self.check_next_session(new_server, self.nginx, "2030-01-02", "new version's server")


if __name__ == "__main__":
    unittest.main()
