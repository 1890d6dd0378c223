"""End-to-end harness: runs the Windows build of the updater under Wine and
looks at its windows through the driver program (qxdriver.exe).

Everything that waits has a time limit. A program still running at the end of
a test is killed by pid, and the failure message carries what its window
showed last (caption, buttons, progress list), so a hang can be read from the
test output alone.

Configuration comes from the environment, as the CMake test definitions set
it: QX_BUILD_DIR (the Windows build folder, which also holds the Wine
prefix), QX_EXE (QXUpdate.exe), QX_DRIVER (qxdriver.exe), QX_WINE_RUN
(scripts/wine-run.sh), QX_VERSION (major.minor.revision of the build),
QX_QXADDR (the deployer's tool that writes the server address; a .exe runs
under Wine) and the helper programs of tests/e2e/helpers: QX_E2E_MARKER,
QX_E2E_KEYWIN and QX_E2E_REGDLL. Each defaults to its place in the build
folder.

A session test has an nginx of its own on 127.0.0.1 and a copy of
QXUpdate.exe that carries that server's address, started in the test's
folder; it presses the start button, follows the progress list and answers
the message boxes.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.environ.get("QX_REPO") or os.path.dirname(os.path.dirname(HERE))
BUILD_DIR = os.path.abspath(os.environ.get("QX_BUILD_DIR") or os.path.join(REPO, "build", "win"))
WINE_RUN = os.environ.get("QX_WINE_RUN") or os.path.join(REPO, "scripts", "wine-run.sh")
EXE = os.environ.get("QX_EXE") or os.path.join(BUILD_DIR, "QXUpdate.exe")
DRIVER = os.environ.get("QX_DRIVER") or os.path.join(BUILD_DIR, "qxdriver.exe")
VERSION = os.environ.get("QX_VERSION") or "1.1.1"
PREFIX = os.path.join(BUILD_DIR, "wineprefix")
WORK_ROOT = os.path.join(BUILD_DIR, "e2e-work")

# Exit codes of the driver.
DRIVER_OK = 0
DRIVER_USAGE = 1

# A driver run costs about half a second of Wine start-up; this is its own
# limit on top of the polling time it was given.
DRIVER_OVERHEAD_S = 60

PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    """Wine's helper processes are orphaned when the program that started
    them ends; as a subreaper this process inherits and reaps them instead of
    leaving zombies behind when PID 1 does not reap."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def hexu(text):
    """The driver's encoding of a non-ASCII argument: hex of its UTF-8 bytes."""
    return text.encode("utf-8").hex().upper()


# ---------------------------------------------------------------- processes

def _read(path, mode="rb"):
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return None


def prefix_processes():
    """(pid, argv) of every live process that runs in this build's prefix.
    Wine starts a program through a fork of its starter (two, in fact), which
    show the starter's arguments until they exec or end; such a fork is not
    another copy of the starter, so a process whose parent shows the same
    arguments is left out."""
    want = b"WINEPREFIX=" + PREFIX.encode()
    me = os.getpid()
    found = []
    parents = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == me:
            continue
        env = _read(f"/proc/{name}/environ")
        if not env or want not in env.split(b"\0"):
            continue
        stat = _read(f"/proc/{name}/stat", "r") or ""
        if ") Z" in stat:
            continue
        argv = (_read(f"/proc/{name}/cmdline") or b"").split(b"\0")
        found.append((int(name), [a.decode("utf-8", "replace") for a in argv if a]))
        # The parent pid is the field after the state, past the ")" that
        # ends the program name.
        fields = stat.rsplit(")", 1)[-1].split()
        parents[int(name)] = int(fields[1]) if len(fields) > 1 else 0
    by_pid = dict(found)
    return [(pid, argv) for pid, argv in found if by_pid.get(parents[pid]) != argv]


def _is_wine_service(argv):
    """Wine's own server and system processes, which tests leave running."""
    if not argv:
        return True
    first = argv[0].replace("/", "\\").lower()
    return os.path.basename(argv[0]).startswith("wineserver") or first.startswith("c:\\windows\\")


def kill_test_programs(exclude=()):
    """Kills, by pid, every program in the prefix that is not part of Wine
    itself: updater copies, drivers, programs an update started. Returns what
    was killed."""
    killed = []
    for pid, argv in prefix_processes():
        if pid in exclude or _is_wine_service(argv):
            continue
        try:
            os.kill(pid, signal.SIGKILL)
            killed.append((pid, argv))
        except ProcessLookupError:
            pass
    reap_orphans()
    return killed


_tracked_pids = set()


def reap_orphans():
    """Reaps zombie children this process inherited as a subreaper, leaving
    alone the ones a Popen object will wait for."""
    me = str(os.getpid())
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in _tracked_pids:
            continue
        stat = _read(f"/proc/{name}/stat", "r")
        if not stat:
            continue
        fields = stat.rsplit(")", 1)[-1].split()
        if len(fields) >= 2 and fields[0] == "Z" and fields[1] == me:
            try:
                os.waitpid(int(name), os.WNOHANG)
            except ChildProcessError:
                pass


# ---------------------------------------------------------------- paths

def linux_path(windows_path):
    """Where a path inside the prefix (C:\\...) or on drive Z: is on Linux."""
    p = windows_path.replace("\\", "/")
    drive, rest = p[:2].lower(), p[2:].lstrip("/")
    if drive == "c:":
        return os.path.join(PREFIX, "drive_c", rest)
    if drive == "z:":
        return "/" + rest
    raise ValueError(f"not a path on drive C: or Z:: {windows_path!r}")


def windows_path(path):
    """The Wine path (drive Z:) of a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- reading lines

class LineReader:
    """Reads lines from a pipe with a time limit per line."""

    def __init__(self, stream):
        self._fd = stream.fileno()
        self._buf = b""
        self.lines = []

    def readline(self, timeout_s):
        deadline = time.monotonic() + timeout_s
        while b"\n" not in self._buf:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self._fd], [], [], left)
            if not ready:
                return None
            chunk = os.read(self._fd, 65536)
            if not chunk:
                if self._buf:
                    break
                return None
            self._buf += chunk
        line, _, self._buf = self._buf.partition(b"\n")
        text = line.decode("utf-8", "replace").rstrip("\r")
        self.lines.append(text)
        return text


# ---------------------------------------------------------------- the driver

class DriverResult:
    def __init__(self, args, rc, objects, stderr):
        self.args = args
        self.rc = rc
        self.objects = objects
        self.stderr = stderr

    @property
    def ok(self):
        return self.rc == DRIVER_OK

    @property
    def first(self):
        return self.objects[0] if self.objects else None


    def __repr__(self):
        return f"driver {self.args[0]}: exit {self.rc}, output {self.objects!r}" + (
            f", stderr {self.stderr.strip()[-500:]!r}" if self.stderr.strip() else "")


class Driver:
    """Runs qxdriver.exe commands. Window selectors: caption (exact text),
    exe (base name of the owning program), hwnd (as printed by the driver)."""

    def __init__(self):
        self.last = None
        # The last state with a readable progress list, per window: a hung
        # program cannot answer for its list any more.
        self.readable_states = {}

    def _selector(self, caption=None, title=None, exe=None, hwnd=None, hidden=False):
        args = []
        if caption is not None:
            args += ["--caption-hex", hexu(caption)]
        if title is not None:
            args += ["--title-hex", hexu(title)]
        if exe is not None:
            args += ["--exe", exe]
        if hwnd is not None:
            args += ["--hwnd", hwnd]
        if hidden:
            args.append("--hidden")
        return args

    def run(self, command, *args, timeout_ms=0, **selector):
        argv = [command, *args, *self._selector(**selector)]
        if timeout_ms:
            argv += ["--timeout-ms", str(int(timeout_ms))]
        limit = timeout_ms / 1000.0 + DRIVER_OVERHEAD_S
        # Output goes to files, not pipes: a Wine process the driver happens
        # to start (the server, the desktop) would inherit a pipe and keep it
        # open long after the driver has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                proc = subprocess.run([WINE_RUN, DRIVER, *argv], stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=err, timeout=limit)
            except subprocess.TimeoutExpired:
                out.seek(0)
                raise AssertionError(
                    f"qxdriver {' '.join(argv)} did not finish within {limit:.0f} s; "
                    f"it printed {out.read()!r}") from None
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        objects = []
        for line in stdout.decode("utf-8", "replace").splitlines():
            line = line.strip()
            if not line:
                continue
            try:
                objects.append(json.loads(line))
            except ValueError:
                objects.append({"unparsed": line})
        result = DriverResult(argv, proc.returncode, objects, stderr.decode("utf-8", "replace"))
        if result.rc == DRIVER_USAGE:
            raise AssertionError(f"the driver rejected its arguments: {result!r}")
        self.last = result
        for o in objects:
            lists = o.get("lists") if isinstance(o, dict) else None
            if lists and all(lst.get("readable") for lst in lists):
                self.readable_states[o["hwnd"]] = o
        return result


    def state(self, timeout_ms=0, **selector):
        r = self.run("state", timeout_ms=timeout_ms, **selector)
        return r.first if r.ok else None

    def count(self, **selector):
        r = self.run("count", **selector)
        first = r.first or {}
        return first.get("count", -1), first.get("windows", [])

    def click(self, button, timeout_ms=0, **selector):
        return self.run("click", hexu(button), timeout_ms=timeout_ms, **selector)

    def close(self, timeout_ms=0, **selector):
        return self.run("close", timeout_ms=timeout_ms, **selector)

    def syscommand(self, command_id, timeout_ms=0, **selector):
        return self.run("syscommand", str(command_id), timeout_ms=timeout_ms, **selector)

    def msgbox(self, timeout_ms=0, **selector):
        r = self.run("msgbox", timeout_ms=timeout_ms, **selector)
        return r.first if r.ok else None

    def answer(self, button=None, button_id=None, timeout_ms=0, **selector):
        arg = f"id:{button_id}" if button_id is not None else hexu(button)
        return self.run("answer", arg, timeout_ms=timeout_ms, **selector)

    def wait_gone(self, timeout_ms, **selector):
        return self.run("wait-gone", timeout_ms=timeout_ms, **selector).ok


# ---------------------------------------------------------------- describing state

def describe_window(state, earlier=None):
    """A readable account of a `state` result, for failure messages; when the
    progress list cannot be read now, `earlier` (a previous state of the same
    window) supplies it."""
    if not state:
        return "  (no window)"
    out = [f"  window {state.get('hwnd')} of {state.get('exe')}: caption {state.get('caption')!r}"]
    for s in state.get("statics", []):
        out.append(f"  static {s['text']!r}" + ("" if s["visible"] else " (hidden)"))
    hidden = 0
    for b in state.get("buttons", []):
        if not b["visible"]:
            hidden += 1  # Wine's message boxes keep their unused buttons hidden
            continue
        out.append(f"  button {b['text']!r} ({'enabled' if b['enabled'] else 'disabled'})")
    if hidden:
        out.append(f"  ({hidden} hidden buttons)")
    for n, lst in enumerate(state.get("lists", [])):
        if not lst.get("readable"):
            out.append("  progress list: unreadable (the program does not answer messages)")
            old = (earlier or {}).get("lists", [])
            if n >= len(old):
                continue
            lst = old[n]
            out.append(f"  progress list as last read: {lst['count']} lines")
        else:
            out.append(f"  progress list: {lst['count']} lines")
        for i, item in enumerate(lst.get("items", [])):
            out.append(f"    {i + 1:3}: {item}")
    return "\n".join(out)


# ---------------------------------------------------------------- programs under test

class TestTimeout(Exception):
    pass


class App:
    """One run of a Windows program under Wine, started through wine-run.sh.
    Wine replaces the script and its wrapper in place (exec), so the Linux pid
    is the program's own for its whole life."""

    def __init__(self, path, cwd=None, args=(), log_dir=WORK_ROOT, name=None):
        self.path = path
        self.cwd = cwd
        self.args = list(args)
        self.name = name or os.path.basename(path)
        os.makedirs(log_dir, exist_ok=True)
        self.log_path = os.path.join(log_dir, f"{self.name}.{time.monotonic_ns()}.log")
        self.proc = None
        self.last_state = None

    def start(self):
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([WINE_RUN, self.path, *self.args], cwd=self.cwd,
                                     stdin=subprocess.DEVNULL, stdout=self._log,
                                     stderr=subprocess.STDOUT)
        _tracked_pids.add(self.proc.pid)
        return self

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout_s):
        """The exit code, or None when the program is still running."""
        try:
            return self.proc.wait(timeout_s)
        except subprocess.TimeoutExpired:
            return None

    def log_tail(self, lines=20):
        data = (_read(self.log_path) or b"").decode("utf-8", "replace").splitlines()
        return "\n".join("  | " + line for line in data[-lines:])

    def kill(self):
        if self.running():
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(30)
        if self.proc is not None:
            _tracked_pids.discard(self.proc.pid)
        if getattr(self, "_log", None):
            self._log.close()


class UpdaterTestCase(unittest.TestCase):
    """Base of the end-to-end tests: starts programs, kills what is left at
    the end, and turns hangs into failures that show the window's state."""

    # The whole test, waits included; the alarm turns a hang into a failure.
    time_limit_s = 180

    @classmethod
    def setUpClass(cls):
        become_subreaper()
        for path, what in ((EXE, "the updater"), (DRIVER, "the driver"), (WINE_RUN, "wine-run.sh")):
            if not os.path.exists(path):
                raise AssertionError(f"{what} is missing: {path} (build the Windows tree first)")

    def setUp(self):
        self.driver = Driver()
        self.apps = []
        self.watchers = []
        leftovers = kill_test_programs()
        if leftovers:
            print(f"killed programs left over from an earlier test: {leftovers}")
        self.work_dir = os.path.join(WORK_ROOT, self.id().rsplit(".", 2)[-2] + "." + self._testMethodName)
        shutil.rmtree(self.work_dir, ignore_errors=True)
        os.makedirs(self.work_dir)
        signal.signal(signal.SIGALRM, self._on_time_limit)
        signal.alarm(self.time_limit_s)
        self.addCleanup(self._clean_up)

    def _on_time_limit(self, signum, frame):
        signal.alarm(0)
        raise TestTimeout(f"the test did not finish within {self.time_limit_s} s\n"
                          + self.describe_apps())

    def _clean_up(self):
        # Programs still running here are either done with (the test did not
        # need to close them) or hung, in which case the test's failure
        # message already carries their state.
        signal.alarm(0)
        for a in self.apps:
            a.kill()
        for proc in self.watchers:
            if proc.poll() is None:
                proc.kill()
            proc.wait(30)
            proc.stdout.close()
            _tracked_pids.discard(proc.pid)
        kill_test_programs()
        reap_orphans()

    # ------------------------------------------------------------ looking

    def state_of(self, app=None, timeout_ms=0, **selector):
        state = self.driver.state(timeout_ms=timeout_ms, **selector)
        if app is not None and state is not None:
            app.last_state = state
        return state

    def wait_for_state(self, predicate, timeout_s, what, app=None, **selector):
        """Polls the window's state until predicate(state) holds and returns
        that state; fails with `what` and the last state otherwise."""
        deadline = time.monotonic() + timeout_s
        state = None
        while True:
            state = self.state_of(app, **selector)
            if state is not None and predicate(state):
                return state
            if time.monotonic() > deadline:
                self.fail_with_state(f"expected {what} within {timeout_s} s; the last look: "
                                     f"{self.driver.last!r}" if state is None else
                                     f"expected {what} within {timeout_s} s")
            time.sleep(0.1)

    def describe_apps(self):
        """Each program's fate, and every window of the ones still running
        (message boxes included), as the driver sees them now."""
        parts = []
        names = []
        for a in self.apps:
            if a.running():
                parts.append(f"{a.name} (pid {a.pid}): running")
                name = os.path.basename(a.path)
                if name.lower() not in (n.lower() for n in names):
                    names.append(name)
            else:
                parts.append(f"{a.name} (pid {a.pid}): ended with exit code {a.proc.returncode}")
            tail = a.log_tail()
            if tail:
                parts.append(f"  its output:\n{tail}")
        for name in names:
            try:
                r = self.driver.run("state", "--all", exe=name)
            except AssertionError as e:
                parts.append(f"windows of {name}: the driver failed: {e}")
                continue
            windows = [o for o in r.objects if "hwnd" in o]
            if not windows:
                last = [a.last_state for a in self.apps
                        if a.last_state and os.path.basename(a.path) == name]
                parts.append(f"windows of {name}: none now"
                             + (f"; the last one seen:\n{describe_window(last[-1])}" if last else ""))
            for w in windows:
                parts.append(describe_window(w, self.driver.readable_states.get(w["hwnd"])))
        return "\n".join(parts)

    def fail_with_state(self, message):
        context = self.describe_apps()
        self.fail(f"{message}\n{context}" if context else message)

    def check(self, what, expected, got):
        """Fails with `what`, the expected and the actual value, and the state
        of the programs under test."""
        if expected != got:
            self.fail_with_state(f"{what}: expected {expected!r}, got {got!r}")

    def expect_exit(self, app, timeout_s, why):
        code = app.wait_exit(timeout_s)
        if code is None:
            self.fail_with_state(f"{app.name} (pid {app.pid}) should have ended within "
                                 f"{timeout_s} s {why}, but is still running")
        return code


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
                                     f"{_read(self.error_log)!r}")
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
        data = (_read(self.access_log) or b"").decode("utf-8", "replace")
        out = []
        for line in data.splitlines():
            parts = line.split()
            if len(parts) == 3:
                out.append((parts[0], parts[1], int(parts[2])))
        return out


# ---------------------------------------------------------------- the updater

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
        app = App(path, self.work_dir, log_dir=self.work_dir, name=base_name)
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

