"""End-to-end harness: runs the Windows build of the updater under Wine, each test with an nginx of its
own, and looks at its windows through qxdriver.exe. Every wait has a time limit; a program still running
at the end of a test is killed by pid, and a failure shows what the windows showed last (caption,
buttons, progress list). The CMake test definitions set the QX_* paths read below."""

import contextlib
import ctypes
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import types
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
SETTINGS_ROOT = r"HKCU\Software\VB and VBA Program Settings"

TITLE = "在线升级程序"
CAPTION = TITLE + "(版本" + VERSION + ")"
START = "开始升级"
READING, ANALYSING = "正在读取服务器上的升级信息……", "正在分析升级信息……"
DONE = "升级完毕。"
IDOK, IDCANCEL = 1, 2
WINDOW_TIMEOUT_S, SESSION_TIMEOUT_S = 30, 60
# A driver run costs about half a second of Wine start-up; this is its limit beyond its own wait.
DRIVER_OVERHEAD_S = 60


def hexu(text):  # the driver's encoding of a text argument: hex of its UTF-8 bytes
    return text.encode("utf-8").hex().upper()


def read_bytes(path):
    return pathlib.Path(path).read_bytes()


def linux_path(windows_path):
    p = windows_path.replace("\\", "/")
    return os.path.join(PREFIX, "drive_c", p[3:]) if p[:2].lower() == "c:" else p[2:]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_processes():
    """(pid, argv) of the live processes of this build's prefix. Wine starts a program through forks of
    its starter that show the starter's arguments; a process whose parent shows the same is left out."""
    want, found, parents = b"WINEPREFIX=" + PREFIX.encode(), {}, {}
    for pid in map(int, filter(str.isdigit, os.listdir("/proc"))):
        with contextlib.suppress(OSError):  # gone meanwhile
            stat = read_bytes(f"/proc/{pid}/stat").decode(errors="replace").rsplit(")", 1)[-1].split()
            if pid != os.getpid() and want in read_bytes(f"/proc/{pid}/environ").split(b"\0") and stat[0] != "Z":
                argv = read_bytes(f"/proc/{pid}/cmdline").split(b"\0")
                found[pid], parents[pid] = [a.decode("utf-8", "replace") for a in argv if a], int(stat[1])
    return [(pid, argv) for pid, argv in found.items() if found.get(parents[pid]) != argv]


def kill_test_programs():
    """Kills by pid every program of the prefix but Wine's own, then reaps what Wine orphaned."""
    for pid, argv in prefix_processes():
        if argv and not os.path.basename(argv[0]).startswith("wineserver") and \
                not argv[0].replace("/", "\\").lower().startswith("c:\\windows\\"):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
    with contextlib.suppress(ChildProcessError):
        while os.waitpid(-1, os.WNOHANG)[0]:
            pass


def wine(*args):
    p = subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return p.returncode, (p.stdout + p.stderr).decode("gbk", "replace")


def reg_values(key, *name):
    """{name: data} of a key's values (or of the one named) as `reg query` prints them."""
    rc, out = wine("reg", "query", key, *(("/v",) + name if name else ()))
    rows = [line.split(None, 2) for line in out.splitlines()] if rc == 0 else []
    return {r[0]: r[2].strip() if len(r) == 3 else "" for r in rows if len(r) >= 2 and r[1].startswith("REG_")}


def reg_value(key, name):
    return reg_values(key, name).get(name)


def stored_stamp(base_name):
    return reg_value(f"{SETTINGS_ROOT}\\{base_name}\\System", "Version")


def forget_settings(base_name):
    wine("reg", "delete", f"{SETTINGS_ROOT}\\{base_name}", "/f")


def write_address(path, address):
    """The deployer's step: qxaddr writes the server address into a copy of the program."""
    subprocess.run([WINE_RUN, QXADDR, windows_path(path), address], stdin=subprocess.DEVNULL, capture_output=True,
                   timeout=60, check=True)


def script_bytes(lines):
    """An update.inf as published: in the code page of the machines that run the updater."""
    return "".join(line + "\r\n" for line in lines).encode("gbk")


class Driver:
    """Runs qxdriver.exe. Windows are selected by caption (exact; a box's title is its caption), exe (base
    name of the owning program) or hwnd (as the driver prints it). A run's result: ok, first, argv."""

    @staticmethod
    def selector(caption=None, title=None, exe=None, hwnd=None):
        text = caption if caption is not None else title
        return (["--caption-hex", hexu(text)] if text is not None else []) + (["--exe", exe] if exe else []) + \
            (["--hwnd", str(hwnd)] if hwnd else [])

    def run(self, command, *args, timeout_ms=0, **selector):
        argv = [command, *args, *self.selector(**selector), "--timeout-ms", str(int(timeout_ms))]
        limit = timeout_ms / 1000 + DRIVER_OVERHEAD_S
        # A file, not a pipe: a Wine process the driver happens to start would keep a pipe open.
        with tempfile.TemporaryFile() as out:
            rc = subprocess.run([WINE_RUN, DRIVER, *argv], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL, timeout=limit).returncode
            out.seek(0)
            objects = [json.loads(line) for line in out.read().decode("utf-8", "replace").splitlines() if line.strip()]
        self.last = r = types.SimpleNamespace(argv=argv, rc=rc, ok=rc == 0, first=(objects or [None])[0], out=objects)
        if rc == 1:
            raise AssertionError(f"the driver rejected its arguments: {r!r}")
        return r

    def state(self, timeout_ms=0, command="state", **selector):
        r = self.run(command, timeout_ms=timeout_ms, **selector)
        return r.first if r.ok else None

    def msgbox(self, timeout_ms=0, **selector):
        """A message or input box: hwnd, title, text and visible buttons. Wine's boxes create every standard
        button and hide the unused ones; the text is the static 0xFFFF, an input box's its first static."""
        box = self.state(timeout_ms=timeout_ms, **selector, command="msgbox")
        texts = [c["text"] for c in sorted(controls(box or {}, "Static"), key=lambda c: c["id"] != 0xFFFF) if c["text"]]
        return box and dict(hwnd=box["hwnd"], title=box["caption"], text=(texts or [""])[0],
                            buttons=[b for b in controls(box, "Button") if b["visible"]])


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
    items = items_of(state) if items_of(state) is not None else items_of(earlier)
    return "\n".join([f"  window {state['hwnd']} of {state['exe']}: caption {state['caption']!r}"] +
                     [f"  {c['class']} {c['text']!r}" + ("" if c["enabled"] else " (disabled)")
                      for c in state["controls"] if c["visible"] and c["class"].lower() in ("button", "static")] +
                     [f"  progress list{'' if items_of(state) is not None else ' (unreadable now; as last read)'}:"] +
                     [f"    {i + 1:3}: {item}" for i, item in enumerate(items or [])])


class App:
    """One run of a Windows program under Wine; wine-run.sh execs Wine, so the pid is the program's own."""

    def __init__(self, path, cwd, log_dir, name):
        self.path, self.name, self.last_state = path, name, None
        self.log_path = os.path.join(log_dir, f"{name}.{time.monotonic_ns()}.log")
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen([WINE_RUN, path], cwd=cwd, stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=subprocess.STDOUT)

    def kill(self):
        self.proc.kill()
        self.proc.wait(30)


class SessionTestCase(unittest.TestCase):
    """A test with its own nginx and its own copy of the updater, whose base name is the test's alone."""
    time_limit_s, caption, seen = 240, CAPTION, 0  # seen: progress lines already accounted for

    def setUp(self):
        ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER: Wine's helpers outlive their programs
        self.driver, self.apps = Driver(), []
        kill_test_programs()
        self.work_dir = os.path.join(BUILD_DIR, "e2e-work", self.id().rsplit(".", 2)[-2] + "." + self._testMethodName)
        shutil.rmtree(self.work_dir, ignore_errors=True)
        os.makedirs(self.work_dir)
        signal.signal(signal.SIGALRM, lambda *_: self.fail_with_state(f"the test outlived {self.time_limit_s} s"))
        signal.alarm(self.time_limit_s)
        self.addCleanup(kill_test_programs)  # the updaters and drivers of the test too
        self.addCleanup(lambda: [a.kill() for a in self.apps])  # before the above, so that each run's end is known
        self.addCleanup(signal.alarm, 0)
        self.nginx = Nginx().start()
        self.addCleanup(self.nginx.stop)
        self.updater = self.base_name = self.exe_name = None

    def describe_apps(self):
        parts = []
        for a in self.apps:
            alive = a.proc.poll() is None
            parts.append(f"{a.name} (pid {a.proc.pid}): " + ("running" if alive else f"exit code {a.proc.returncode}"))
            r = self.driver.run("count", exe=os.path.basename(a.path)) if alive else None
            windows = r.first["windows"] if r and r.ok else []
            parts += [describe_window(w, a.last_state) for w in windows] or \
                [f"  no window now; the last one seen:\n{describe_window(a.last_state)}" if a.last_state else ""]
        return "\n".join(parts)

    def fail_with_state(self, message):
        signal.alarm(0)
        self.fail(f"{message}\n{self.describe_apps()}")

    def check(self, what, expected, got):
        if expected != got:
            self.fail_with_state(f"{what}: expected {expected!r}, got {got!r}")

    def check_lines(self, what, expected, got):
        """A compiled pattern in `expected` stands for any line it matches in full."""
        shown = [e if isinstance(e, re.Pattern) and e.fullmatch(g) else g for e, g in zip(expected, got)]
        self.check(f"progress lines {what}", expected, shown + got[len(expected):])

    def publish(self, lines):
        self.nginx.put("update.inf", script_bytes(lines))

    def start_app(self, path, cwd, name):
        self.updater = App(path, cwd, self.work_dir, name)
        self.apps.append(self.updater)
        return self.wait_for(start_enabled, WINDOW_TIMEOUT_S, f"a window {self.caption!r} with {START!r} enabled")

    def start_updater(self, base_name, source=EXE):
        """A copy of source as base_name.exe in the test's folder, addressed to its nginx, without a stored stamp."""
        path = os.path.join(self.work_dir, base_name + ".exe")
        shutil.copy2(source, path)
        write_address(path, self.nginx.address)
        forget_settings(base_name)
        self.addCleanup(forget_settings, base_name)
        self.base_name, self.exe_name = base_name, base_name + ".exe"
        self.start_app(path, self.work_dir, base_name)
        return self.updater

    def look(self, timeout_ms=0):
        state = self.driver.state(timeout_ms=timeout_ms, caption=self.caption, exe=self.exe_name)
        if items_of(state) is not None:
            self.updater.last_state = state
        return state

    def wait_for(self, predicate, timeout_s, what):
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

    def answer_box(self, button_id, box):
        if not self.driver.run("answer", "--id", str(button_id), hwnd=box["hwnd"], timeout_ms=10000).ok:
            self.fail_with_state(f"could not answer the box {box['title']!r} with {button_id}: {self.driver.last!r}")

    @staticmethod
    def poll(get, done, timeout_s):
        """get() until done(its value) or the time limit: the last value, and whether it was done."""
        deadline = time.monotonic() + timeout_s
        while not (met := done(value := get())) and time.monotonic() < deadline:
            time.sleep(0.1)
        return value, met
