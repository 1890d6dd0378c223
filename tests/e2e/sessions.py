"""Whole update sessions under Wine: an nginx of the test's own on 127.0.0.1,
a copy of QXUpdate.exe that carries that server's address, started in the
test's folder, and the means to press its start button, follow its progress
list and answer its message boxes.

Besides the harness's variables this reads QX_QXADDR (the deployer's tool
that writes the server address; a .exe runs under Wine) and the helper
programs of tests/e2e/helpers: QX_E2E_MARKER, QX_E2E_KEYWIN and
QX_E2E_REGDLL. Each defaults to its place in the build
folder.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import harness
from harness import (BUILD_DIR, EXE, VERSION, WINE_RUN, App, UpdaterTestCase,
                     hexu, windows_path)

TITLE = "在线升级程序"
CAPTION = TITLE + "(版本" + VERSION + ")"
START = "开始升级"

READING = "正在读取服务器上的升级信息……"
ANALYSING = "正在分析升级信息……"
DONE = "升级完毕。"
UP_TO_DATE = "你机器上的程序已经是最新，无需升级。"

IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7

WINDOW_TIMEOUT_S = 30
SESSION_TIMEOUT_S = 60
EXIT_TIMEOUT_S = 10
POLL_S = 0.1


def _env_path(name, default):
    return os.environ.get(name) or default


QXADDR = _env_path("QX_QXADDR", os.path.join(BUILD_DIR, "tools", "qxaddr.exe"))
MARKER = _env_path("QX_E2E_MARKER", os.path.join(BUILD_DIR, "qxe2e_marker.exe"))
KEYWIN = _env_path("QX_E2E_KEYWIN", os.path.join(BUILD_DIR, "qxe2e_keywin.exe"))
REGDLL = _env_path("QX_E2E_REGDLL", os.path.join(BUILD_DIR, "qxe2e_regdll.dll"))

SETTINGS_ROOT = r"HKCU\Software\VB and VBA Program Settings"


def script_bytes(lines, line_end="\r\n"):
    """An update.inf as the server publishes it: the ANSI code page of the
    machines that run the updater, every line ended."""
    return "".join(line + line_end for line in lines).encode("gbk")


def run_limited(argv, timeout_s, what):
    """Runs a short command with a time limit; its output, or a failure that
    says what it printed."""
    try:
        proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=timeout_s)
    except subprocess.TimeoutExpired as e:
        raise AssertionError(f"{what} did not finish within {timeout_s} s; it printed "
                             f"{e.output!r}") from None
    return proc.returncode, proc.stdout.decode("gbk", "replace")


# ---------------------------------------------------------------- registry

def write_address(path, address):
    """The deployer's step: qxaddr writes the server address into a copy."""
    if QXADDR.lower().endswith(".exe"):
        argv = [WINE_RUN, QXADDR, windows_path(path), address]
    else:
        argv = [QXADDR, path, address]
    rc, out = run_limited(argv, 60, "qxaddr")
    if rc != 0:
        raise AssertionError(f"qxaddr could not write {address} into {path}: exit {rc}, {out}")


def reg(*args):
    """`reg` inside the test prefix: (exit code, output)."""
    return run_limited([WINE_RUN, "reg", *args], 60, "wine reg " + " ".join(args))


def reg_value(key, name):
    """The data of a registry value as `reg query` prints it, or None."""
    rc, out = reg("query", key, "/v", name)
    if rc != 0:
        return None
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[2].strip() if len(parts) == 3 else ""
    return None


def stored_stamp(base_name):
    return reg_value(f"{SETTINGS_ROOT}\\{base_name}\\System", "Version")


def forget_settings(base_name):
    reg("delete", f"{SETTINGS_ROOT}\\{base_name}", "/f")


# ---------------------------------------------------------------- nginx

def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """An nginx of one test: own configuration, pid, logs and temp folders,
    a www root that its workers (user nobody) can read, and an access log of
    'METHOD URI STATUS' lines."""

    START_TIMEOUT_S = 10

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="qxe2e-nginx-")
        # mkdtemp makes the folder 0700; nginx's workers would answer 403.
        os.chmod(self.root, 0o755)
        self.www = os.path.join(self.root, "www")
        self.folder = os.path.join(self.www, "qxupdate")
        os.makedirs(self.folder)
        os.makedirs(os.path.join(self.root, "temp"))
        for d in (self.www, self.folder):
            os.chmod(d, 0o755)
        self.access_log = os.path.join(self.root, "access.log")
        self.error_log = os.path.join(self.root, "error.log")
        self.port = None
        self.proc = None

    def start(self):
        self.port = _free_port()
        conf = os.path.join(self.root, "nginx.conf")
        temp = os.path.join(self.root, "temp")
        with open(conf, "w") as f:
            f.write(f"""daemon off;
worker_processes 1;
pid {self.root}/nginx.pid;
error_log {self.error_log};
events {{ worker_connections 64; }}
http {{
    log_format requests '$request_method $request_uri $status';
    access_log {self.access_log} requests;
    client_body_temp_path {temp}/body;
    proxy_temp_path {temp}/proxy;
    fastcgi_temp_path {temp}/fastcgi;
    uwsgi_temp_path {temp}/uwsgi;
    scgi_temp_path {temp}/scgi;
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{self.port};
        root {self.www};
        # A slow link, for downloads that take a while.
        location /qxupdate/slow/ {{ limit_rate 256k; }}
    }}
}}
""")
        self.proc = subprocess.Popen(["nginx", "-e", self.error_log, "-p", self.root, "-c", conf],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + self.START_TIMEOUT_S
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                return self
            except OSError:
                pass
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise AssertionError(f"nginx did not start on port {self.port}: "
                                     f"{harness._read(self.error_log)!r}")
            time.sleep(0.05)

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def put(self, name, data, mtime=None):
        """A file below /qxupdate/; mtime (seconds since the epoch) becomes
        its Last-Modified."""
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        if mtime is not None:
            os.utime(path, (mtime, mtime))
        return path

    def requests(self):
        """Every request so far as (method, uri, status)."""
        data = (harness._read(self.access_log) or b"").decode("utf-8", "replace")
        out = []
        for line in data.splitlines():
            parts = line.split()
            if len(parts) == 3:
                out.append((parts[0], parts[1], int(parts[2])))
        return out


# ---------------------------------------------------------------- the updater

class FolderApp(App):
    """A program started in a given current folder (the updater's own folder
    is where a started program and a relative path land)."""

    def __init__(self, path, cwd, **kw):
        super().__init__(path, **kw)
        self.cwd = cwd

    def start(self):
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([WINE_RUN, self.path, *self.args], cwd=self.cwd,
                                     stdin=subprocess.DEVNULL, stdout=self._log,
                                     stderr=subprocess.STDOUT)
        harness._tracked_pids.add(self.proc.pid)
        return self


def visible_buttons(state):
    return [b for b in state.get("buttons", []) if b["visible"]]


def button(state, text):
    for b in visible_buttons(state):
        if b["text"] == text:
            return b
    return None


def items_of(state):
    lists = state.get("lists", []) if state else []
    if len(lists) != 1 or not lists[0].get("readable"):
        return None
    return lists[0]["items"]


def start_enabled(state):
    b = button(state, START)
    return b is not None and b["enabled"]


class SessionTestCase(UpdaterTestCase):
    """A test with its own nginx and its own copy of the updater, whose base
    name (and with it the stored stamp) belongs to this test alone."""

    time_limit_s = 240

    def setUp(self):
        super().setUp()
        self.nginx = Nginx().start()
        self.addCleanup(self.nginx.stop)
        self.updater = None
        self.base_name = None
        self.exe_name = None
        self.caption = CAPTION
        self.seen = 0  # progress lines already accounted for

    # ------------------------------------------------------------ setting up

    def folder(self, *parts):
        """A folder below the test's own, made now; its Linux path."""
        path = os.path.join(self.work_dir, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def win(self, path):
        return windows_path(path)

    def publish(self, lines, line_end="\r\n"):
        self.nginx.put("update.inf", script_bytes(lines, line_end))

    def make_updater(self, base_name):
        """A copy of the updater named base_name.exe in the test's folder,
        addressed to this test's nginx, with no stored stamp."""
        path = os.path.join(self.work_dir, base_name + ".exe")
        shutil.copy2(EXE, path)
        write_address(path, self.nginx.address)
        forget_settings(base_name)
        self.addCleanup(forget_settings, base_name)
        self.base_name = base_name
        self.exe_name = base_name + ".exe"
        return path

    def start_updater(self, base_name):
        """Starts the addressed copy in the test's folder and waits until its
        start button is enabled."""
        path = self.make_updater(base_name)
        app = FolderApp(path, self.work_dir, log_dir=self.work_dir, name=base_name)
        self.apps.append(app)
        self.updater = app.start()
        if self.look(timeout_ms=WINDOW_TIMEOUT_S * 1000) is None:
            self.fail_with_state(f"expected a window captioned {CAPTION!r} within "
                                 f"{WINDOW_TIMEOUT_S} s; the driver said {self.driver.last!r}")
        self.wait_for(start_enabled, 10, f"the button {START!r} enabled")
        return app

    # ------------------------------------------------------------ looking

    def look(self, timeout_ms=0):
        return self.state_of(self.updater, caption=self.caption, exe=self.exe_name, timeout_ms=timeout_ms)

    def wait_for(self, predicate, timeout_s, what):
        return self.wait_for_state(predicate, timeout_s, what, app=self.updater,
                                   caption=self.caption, exe=self.exe_name)

    def new_lines(self, state=None):
        """The progress lines added since the last call, which marks them seen."""
        items = items_of(state if state is not None else self.look())
        if items is None:
            self.fail_with_state("the progress list cannot be read")
        added = items[self.seen:]
        self.seen = len(items)
        return added


    # ------------------------------------------------------------ sessions

    def click_start(self):
        r = self.driver.click(START, caption=self.caption, exe=self.exe_name, timeout_ms=5000)
        if not r.ok:
            self.fail_with_state(f"could not click {START!r}: {r!r}")

    def wait_session_end(self, timeout_s=SESSION_TIMEOUT_S):
        """Waits until the session that the last click started has ended (a
        line was added and the start button is enabled again); returns the
        lines it added."""
        def ended(state):
            items = items_of(state)
            return items is not None and len(items) > self.seen and start_enabled(state)
        return self.new_lines(self.wait_for(ended, timeout_s, "the end of the session"))

    def run_session(self, timeout_s=SESSION_TIMEOUT_S):
        self.click_start()
        return self.wait_session_end(timeout_s)

    def check_lines(self, what, expected, got):
        self.check(f"progress lines {what}", expected, got)

    def expect_box(self, timeout_s=15):
        """The message box of the updater, waited for."""
        box = self.driver.msgbox(exe=self.exe_name, timeout_ms=timeout_s * 1000)
        if box is None:
            self.fail_with_state(f"expected a message box within {timeout_s} s; the driver said "
                                 f"{self.driver.last!r}")
        return box


    def box_icon(self, box):
        """Which standard icon the message box shows."""
        r = self.driver.run("boxicon", hwnd=box["hwnd"])
        if not r.ok or "icon" not in (r.first or {}):
            self.fail_with_state(f"could not tell the icon of the box {box['title']!r}: {r!r}")
        return r.first["icon"]

    def describe_box(self, box):
        """(title, text, sorted ids of the visible buttons, icon)."""
        return (box["title"], box["text"], sorted(b["id"] for b in box["buttons"]),
                self.box_icon(box))

    def answer_box(self, button_id, box=None):
        """Presses a button of the updater's message box (of `box` when
        given) and waits until that box has gone; a next box may already be
        up by then."""
        box = box or self.expect_box()
        r = self.driver.answer(button_id=button_id, hwnd=box["hwnd"], timeout_ms=5000)
        if not r.ok:
            self.fail_with_state(f"could not answer the message box with button {button_id}: {r!r}")
        if not self.driver.wait_gone(10000, hwnd=box["hwnd"]):
            self.fail_with_state(f"the message box {box['title']!r} did not close within 10 s "
                                 f"of the answer")

    def wait_for_file(self, path, timeout_s, what):
        deadline = time.monotonic() + timeout_s
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                self.fail_with_state(f"expected {what} ({path}) within {timeout_s} s")
            time.sleep(POLL_S)

    def requests_since(self, mark):
        return self.nginx.requests()[mark:]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()

