"""End-to-end harness: runs the Windows build of the updater under Wine, each test with an nginx of its
own, and looks at its windows through qxdriver.exe. Every wait has a time limit; a program still running
at the end of a test is killed by pid, and a failure shows what the windows showed last (caption,
buttons, progress list), so a hang can be read from the test output alone.

The CMake test definitions set QX_BUILD_DIR, QX_EXE, QX_DRIVER, QX_WINE_RUN, QX_VERSION, QX_QXADDR and
the helpers QX_E2E_HELPER and QX_E2E_REGDLL."""

import ctypes
import itertools
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
from servers import Nginx  # noqa: E402

REPO = os.environ.get("QX_REPO") or os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("QX_BUILD_DIR") or os.path.join(REPO, "build", "win"))
WINE_RUN = os.environ.get("QX_WINE_RUN") or os.path.join(REPO, "scripts", "wine-run.sh")
EXE = os.environ.get("QX_EXE") or os.path.join(BUILD_DIR, "QXUpdate.exe")
DRIVER = os.environ.get("QX_DRIVER") or os.path.join(BUILD_DIR, "qxdriver.exe")
VERSION = os.environ.get("QX_VERSION") or "1.1.1"
QXADDR = os.environ.get("QX_QXADDR") or os.path.join(BUILD_DIR, "tools", "qxaddr.exe")
HELPER, REGDLL = os.environ.get("QX_E2E_HELPER", ""), os.environ.get("QX_E2E_REGDLL", "")
PREFIX = os.path.join(BUILD_DIR, "wineprefix")
WORK_ROOT = os.path.join(BUILD_DIR, "e2e-work")
SETTINGS_ROOT = r"HKCU\Software\VB and VBA Program Settings"

TITLE = "在线升级程序"
CAPTION = TITLE + "(版本" + VERSION + ")"
START = "开始升级"
READING = "正在读取服务器上的升级信息……"
ANALYSING = "正在分析升级信息……"
DONE = "升级完毕。"
IDOK, IDCANCEL = 1, 2
WINDOW_TIMEOUT_S, SESSION_TIMEOUT_S = 30, 60
# A driver run costs about half a second of Wine start-up; this is its limit beyond its own wait.
DRIVER_OVERHEAD_S = 60


def hexu(text):
    """The driver's encoding of a text argument: hex of its UTF-8 bytes."""
    return text.encode("utf-8").hex().upper()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def _read(path):
    try:
        return read_bytes(path)
    except OSError:
        return b""


def linux_path(windows_path):
    """Where a path on drive C: of the prefix or on drive Z: is on Linux."""
    p = windows_path.replace("\\", "/")
    return os.path.join(PREFIX, "drive_c", p[3:]) if p[:2].lower() == "c:" else p[2:]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- processes

def prefix_processes():
    """(pid, argv) of the live processes of this build's prefix. Wine starts a program through forks of
    its starter that show the starter's arguments; a process whose parent shows the same is left out."""
    want, found, parents = b"WINEPREFIX=" + PREFIX.encode(), {}, {}
    for name in filter(str.isdigit, os.listdir("/proc")):
        stat = _read(f"/proc/{name}/stat").decode(errors="replace").rsplit(")", 1)[-1].split()
        if int(name) == os.getpid() or want not in _read(f"/proc/{name}/environ").split(b"\0") or stat[:1] == ["Z"]:
            continue
        found[int(name)] = [a.decode("utf-8", "replace") for a in _read(f"/proc/{name}/cmdline").split(b"\0") if a]
        parents[int(name)] = int(stat[1]) if len(stat) > 1 else 0
    return [(pid, argv) for pid, argv in found.items() if found.get(parents[pid]) != argv]


def kill_test_programs():
    """Kills by pid every program of the prefix that is not Wine's own; returns what it killed. As a
    subreaper this process then reaps the orphans Wine leaves, where PID 1 may not."""
    killed = []
    for pid, argv in prefix_processes():
        if argv and not os.path.basename(argv[0]).startswith("wineserver") and \
                not argv[0].replace("/", "\\").lower().startswith("c:\\windows\\"):
            try:
                os.kill(pid, signal.SIGKILL)
                killed.append((pid, argv))
            except ProcessLookupError:
                pass
    while True:
        try:
            if os.waitpid(-1, os.WNOHANG)[0] == 0:
                break
        except ChildProcessError:
            break
    return killed


def run_limited(argv, timeout_s, what):
    """(exit code, output) of a short command, or a failure that says what it printed."""
    try:
        p = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout_s)
    except subprocess.TimeoutExpired as e:
        raise AssertionError(f"{what} did not finish within {timeout_s} s; it printed {e.output!r}") from None
    return p.returncode, p.stdout.decode("gbk", "replace")


def reg(*args):
    return run_limited([WINE_RUN, "reg", *args], 60, "wine reg " + " ".join(args))


def reg_values(key, *name):
    """{name: data} of a key's values (or of the one named) as `reg query` prints them."""
    rc, out = reg("query", key, *(("/v",) + name if name else ()))
    rows = [line.split(None, 2) for line in out.splitlines()] if rc == 0 else []
    return {r[0]: r[2].strip() if len(r) == 3 else "" for r in rows if len(r) >= 2 and r[1].startswith("REG_")}


def reg_value(key, name):
    return reg_values(key, name).get(name)


def stored_stamp(base_name):
    return reg_value(f"{SETTINGS_ROOT}\\{base_name}\\System", "Version")


def forget_settings(base_name):
    reg("delete", f"{SETTINGS_ROOT}\\{base_name}", "/f")


def write_address(path, address):
    """The deployer's step: qxaddr writes the server address into a copy of the program."""
    rc, out = run_limited([WINE_RUN, QXADDR, windows_path(path), address], 60, "qxaddr")
    if rc != 0:
        raise AssertionError(f"qxaddr could not write {address} into {path}: exit {rc}, {out}")


def script_bytes(lines):
    """An update.inf as published: in the code page of the machines that run the updater."""
    return "".join(line + "\r\n" for line in lines).encode("gbk")


# ---------------------------------------------------------------- the driver

class DriverResult:
    def __init__(self, argv, rc, objects):
        self.argv, self.rc, self.objects, self.ok = argv, rc, objects, rc == 0
        self.first = objects[0] if objects else None

    def __repr__(self):
        return f"qxdriver {' '.join(self.argv)}: exit {self.rc}, output {self.objects!r}"


class Driver:
    """Runs qxdriver.exe. Windows are selected by caption (exact), exe (base name of the owning program)
    or hwnd (as the driver prints it)."""

    def __init__(self):
        self.last = None
        self.readable = {}  # the last state with a readable list, per window: a hung program cannot answer

    @staticmethod
    def selector(caption=None, title=None, exe=None, hwnd=None):
        text = caption if caption is not None else title  # a box's title is its caption
        return (["--caption-hex", hexu(text)] if text is not None else []) + (["--exe", exe] if exe else []) + \
            (["--hwnd", hwnd] if hwnd else [])

    def run(self, command, *args, timeout_ms=0, **selector):
        argv = [command, *args, *self.selector(**selector), "--timeout-ms", str(int(timeout_ms))]
        limit = timeout_ms / 1000 + DRIVER_OVERHEAD_S
        # A file, not a pipe: a Wine process the driver happens to start would keep a pipe open.
        with tempfile.TemporaryFile() as out:
            try:
                rc = subprocess.run([WINE_RUN, DRIVER, *argv], stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.DEVNULL, timeout=limit).returncode
            except subprocess.TimeoutExpired:
                raise AssertionError(f"qxdriver {' '.join(argv)} did not finish within {limit:.0f} s") from None
            out.seek(0)
            objects = [json.loads(line) for line in out.read().decode("utf-8", "replace").splitlines() if line.strip()]
        self.last = DriverResult(argv, rc, objects)
        if rc == 1:
            raise AssertionError(f"the driver rejected its arguments: {self.last!r}")
        for o in objects:
            if items_of(o) is not None:
                self.readable[o["hwnd"]] = o
        return self.last

    def state(self, timeout_ms=0, **selector):
        r = self.run("state", timeout_ms=timeout_ms, **selector)
        return r.first if r.ok else None

    def windows(self, **selector):
        return self.run("count", **selector).first["windows"]

    def msgbox(self, timeout_ms=0, **selector):
        """A message or input box: hwnd, title, text and visible buttons. Wine's boxes create every standard
        button and hide the unused ones; the text is the static 0xFFFF, an input box's its first static."""
        r = self.run("msgbox", timeout_ms=timeout_ms, **selector)
        if not r.ok:
            return None
        texts = [c["text"] for c in sorted(controls(r.first, "Static"), key=lambda c: c["id"] != 0xFFFF) if c["text"]]
        return dict(hwnd=r.first["hwnd"], title=r.first["caption"], text=(texts or [""])[0],
                    buttons=[b for b in controls(r.first, "Button") if b["visible"]])


def controls(state, cls):
    return [c for c in state.get("controls", []) if c["class"].lower() == cls.lower()]


def items_of(state):
    return (state or {}).get("items")


def start_enabled(state):
    return any(b["text"] == START and b["visible"] and b["enabled"] for b in controls(state, "Button"))


def labels(state):
    return [s["text"] for s in controls(state, "Static") if s["visible"] and s["text"]]


def describe_window(state, earlier=None):
    """A readable account of a window's state; `earlier` supplies the list when it cannot be read now."""
    out = [f"  window {state['hwnd']} of {state['exe']}: caption {state['caption']!r}"]
    out += [f"  {c['class']} {c['text']!r}" + ("" if c["enabled"] else " (disabled)")
            for c in state["controls"] if c["visible"] and c["class"].lower() in ("button", "static")]
    items = items_of(state)
    if items is None:
        out.append("  progress list: unreadable (the program does not answer messages)")
        items = items_of(earlier)
        out += ["  as last read:"] if items is not None else []
    out += [f"    {i + 1:3}: {item}" for i, item in enumerate(items or [])]
    return "\n".join(out)


class App:
    """One run of a Windows program under Wine; wine-run.sh execs Wine, so the pid is the program's own."""

    def __init__(self, path, cwd, log_dir, name):
        self.path, self.name, self.last_state = path, name, None
        self.log_path = os.path.join(log_dir, f"{name}.{time.monotonic_ns()}.log")
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([WINE_RUN, path], cwd=cwd, stdin=subprocess.DEVNULL, stdout=self._log,
                                     stderr=subprocess.STDOUT)

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.running():
            self.proc.kill()
        self.proc.wait(30)
        self._log.close()


# ---------------------------------------------------------------- the test case

class SessionTestCase(unittest.TestCase):
    """A test with its own nginx and its own copy of the updater, whose base name (and with it the
    stored stamp) belongs to this test alone."""

    time_limit_s = 240

    @classmethod
    def setUpClass(cls):
        # Wine's helper processes outlive the programs that start them; this process reaps them.
        ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
        for path in (EXE, DRIVER, WINE_RUN, QXADDR):
            if not os.path.exists(path):
                raise AssertionError(f"missing: {path} (build the Windows tree first)")

    def setUp(self):
        self.driver, self.apps, self.watchers = Driver(), [], []
        leftovers = kill_test_programs()
        if leftovers:
            print(f"killed programs left over from an earlier test: {leftovers}")
        self.work_dir = os.path.join(WORK_ROOT, self.id().rsplit(".", 2)[-2] + "." + self._testMethodName)
        shutil.rmtree(self.work_dir, ignore_errors=True)
        os.makedirs(self.work_dir)
        signal.signal(signal.SIGALRM, self._on_time_limit)
        signal.alarm(self.time_limit_s)
        self.addCleanup(self._clean_up)
        self.nginx = Nginx().start()
        self.addCleanup(self.nginx.stop)
        self.updater = self.base_name = self.exe_name = None
        self.caption = CAPTION
        self.seen = 0  # progress lines already accounted for

    def _on_time_limit(self, signum, frame):
        signal.alarm(0)
        raise AssertionError(f"the test did not finish within {self.time_limit_s} s\n" + self.describe_apps())

    def _clean_up(self):
        signal.alarm(0)
        for a in self.apps:
            a.kill()
        for proc in self.watchers:
            proc.kill()
            proc.wait(30)
        kill_test_programs()

    # ------------------------------------------------------------ failing with the state

    def describe_apps(self):
        """Each program's fate and output, and every window of the ones still running."""
        parts = []
        for a in self.apps:
            parts.append(f"{a.name} (pid {a.proc.pid}): " +
                         ("running" if a.running() else f"ended with exit code {a.proc.returncode}"))
            tail = _read(a.log_path).decode("utf-8", "replace").splitlines()[-20:]
            parts += ["  | " + line for line in tail]
            if not a.running():
                continue
            try:
                windows = self.driver.windows(exe=os.path.basename(a.path))
            except AssertionError as e:
                windows, parts = [], parts + [f"  the driver failed: {e}"]
            parts += [describe_window(w, self.driver.readable.get(w["hwnd"])) for w in windows] or \
                [f"  no window now; the last one seen:\n{describe_window(a.last_state)}" if a.last_state else ""]
        return "\n".join(parts)

    def fail_with_state(self, message):
        self.fail(f"{message}\n{self.describe_apps()}")

    def check(self, what, expected, got):
        if expected != got:
            self.fail_with_state(f"{what}: expected {expected!r}, got {got!r}")

    def check_lines(self, what, expected, got):
        """A compiled pattern in `expected` stands for any line it matches in full."""
        shown = [e if isinstance(e, re.Pattern) and g is not None and e.fullmatch(g) else g
                 for e, g in itertools.zip_longest(expected, got)]
        self.check(f"progress lines {what}", expected, [g for g in shown if g is not None])

    # ------------------------------------------------------------ setting up

    def folder(self, *parts):
        path = os.path.join(self.work_dir, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def publish(self, lines):
        self.nginx.put("update.inf", script_bytes(lines))

    def start_app(self, path, cwd, name):
        """Starts a copy and waits for its window with the start button enabled."""
        self.updater = App(path, cwd, self.work_dir, name)
        self.apps.append(self.updater)
        return self.wait_for(start_enabled, WINDOW_TIMEOUT_S,
                             f"a window captioned {self.caption!r} with {START!r} enabled")

    def start_updater(self, base_name):
        """A copy named base_name.exe in the test's folder, addressed to this test's nginx, with no
        stored stamp, started there."""
        path = os.path.join(self.work_dir, base_name + ".exe")
        shutil.copy2(EXE, path)
        write_address(path, self.nginx.address)
        forget_settings(base_name)
        self.addCleanup(forget_settings, base_name)
        self.base_name, self.exe_name = base_name, base_name + ".exe"
        self.start_app(path, self.work_dir, base_name)
        return self.updater

    # ------------------------------------------------------------ looking

    def look(self, timeout_ms=0):
        state = self.driver.state(timeout_ms=timeout_ms, caption=self.caption, exe=self.exe_name)
        if state is not None:
            self.updater.last_state = state
        return state

    def wait_for(self, predicate, timeout_s, what):
        """Polls the window until predicate(state) holds; returns that state."""
        state, met = self.poll(self.look, lambda s: s is not None and predicate(s), timeout_s)
        if not met:
            self.fail_with_state(f"expected {what} within {timeout_s} s")
        return state

    def new_lines(self, state=None):
        """The progress lines added since the last call, which marks them seen."""
        items = items_of(state if state is not None else self.look())
        if items is None:
            self.fail_with_state("the progress list cannot be read")
        added, self.seen = items[self.seen:], len(items)
        return added

    # ------------------------------------------------------------ sessions

    def click_start(self):
        r = self.driver.run("click", hexu(START), caption=self.caption, exe=self.exe_name, timeout_ms=5000)
        if not r.ok:
            self.fail_with_state(f"could not click {START!r}: {r!r}")

    def wait_session_end(self, timeout_s=SESSION_TIMEOUT_S):
        """The lines the session added, once one was added, the start button is enabled again and two
        looks in a row show the same lines (a key press may let the button through for a moment)."""
        looks = [None]

        def ended(state):
            looks.append(items_of(state))
            return len(looks[-1] or []) > self.seen and start_enabled(state) and looks[-1] == looks[-2]
        return self.new_lines(self.wait_for(ended, timeout_s, "the end of the session"))

    def run_session(self, timeout_s=SESSION_TIMEOUT_S):
        self.click_start()
        return self.wait_session_end(timeout_s)

    def expect_box(self, timeout_s=15):
        box = self.driver.msgbox(timeout_ms=timeout_s * 1000, exe=self.exe_name)
        if box is None:
            self.fail_with_state(f"expected a message box within {timeout_s} s; the driver said {self.driver.last!r}")
        return box

    @staticmethod
    def describe_box(box):
        """(title, text, sorted ids of the visible buttons)."""
        return box["title"], box["text"], sorted(b["id"] for b in box["buttons"])

    def answer_box(self, button_id, box):
        """Presses a button of the box and waits until that box has gone."""
        if not self.driver.run("answer", f"id:{button_id}", hwnd=box["hwnd"], timeout_ms=10000).ok:
            self.fail_with_state(f"could not answer the box {box['title']!r} with {button_id}: {self.driver.last!r}")

    @staticmethod
    def poll(get, done, timeout_s):
        """get() until done(its value) or the time limit: the last value, and whether it was done."""
        deadline = time.monotonic() + timeout_s
        while not (met := done(value := get())) and time.monotonic() < deadline:
            time.sleep(0.1)
        return value, met
