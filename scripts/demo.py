"""The main job: a whole update session of QXUpdate.exe under Wine against the
sample update folder, served by nginx on 127.0.0.1.

Run by scripts/demo.sh after the build. Prints the progress list as it grows,
answers the boxes a user would answer, and saves a screenshot of the finished
window. A second run shows what happens when the script is not newer than the
stamp stored on this machine: the question is answered with OK, and unchanged
files cost only a HEAD request.
"""

import os
import shutil
import socket
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import harness  # noqa: E402  (needs the path above)

BUILD = harness.BUILD_DIR
DEMO = os.path.join(BUILD, "demo")
QXADDR = os.path.join(BUILD, "tools", "qxaddr.exe")
TITLE = "在线升级程序"
CAPTION = f"{TITLE}(版本{harness.VERSION})"
START = "开始升级"
ENDINGS = ("升级完毕。", "无法从服务器获取升级信息。")


def say(text):
    print(f"== demo: {text}", flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """nginx serving the sample update folder, with its own configuration,
    logs and pid file in the demo folder."""

    def __init__(self, root, port):
        self.port = port
        self.dir = os.path.join(DEMO, "nginx")
        os.makedirs(os.path.join(self.dir, "tmp"), exist_ok=True)
        self.access_log = os.path.join(self.dir, "access.log")
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""
daemon off;
worker_processes 1;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log;
events {{ worker_connections 64; }}
http {{
    access_log {self.access_log};
    client_body_temp_path {self.dir}/tmp/body;
    proxy_temp_path {self.dir}/tmp/proxy;
    fastcgi_temp_path {self.dir}/tmp/fastcgi;
    uwsgi_temp_path {self.dir}/tmp/uwsgi;
    scgi_temp_path {self.dir}/tmp/scgi;
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
""")
        open(self.access_log, "w").close()
        self.proc = subprocess.Popen(["nginx", "-c", conf, "-p", self.dir], stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise SystemExit(f"nginx did not start on port {port}")

    def requests(self):
        with open(self.access_log) as f:
            lines = f.read().splitlines()
        out = []
        for line in lines:
            try:
                method, path = line.split('"')[1].split()[:2]
            except (IndexError, ValueError):
                continue
            out.append((method, path))
        return out

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(10)


def world_readable_copy(source, target):
    """nginx's workers run as nobody: every folder on the way must be open."""
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target)
    for folder, dirs, files in os.walk(target):
        os.chmod(folder, 0o755)
        for name in files:
            os.chmod(os.path.join(folder, name), 0o644)


def wine(*args, timeout=120):
    return subprocess.run([harness.WINE_RUN, *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)


def run_session(driver, exe, shot, answer_question):
    app = harness.App(exe, None, DEMO, "QXUpdate")
    try:
        state = driver.state(timeout_ms=60000, caption=CAPTION)
        if state is None:
            raise SystemExit(f"the updater window did not appear: {driver.last!r}\nsee {app.log_path}")
        deadline = time.monotonic() + 30
        while not harness.start_enabled(state):
            if time.monotonic() > deadline:
                raise SystemExit("the start button was never enabled\n" + harness.describe_window(state))
            time.sleep(0.2)
            state = driver.state(caption=CAPTION) or state
        say(f"window \"{state['caption']}\" is ready; pressing \"{START}\"")
        driver.run("click", harness.hexu(START), caption=CAPTION)

        shown = 0
        deadline = time.monotonic() + 180
        while True:
            box = driver.msgbox(title=TITLE)
            if box is not None:
                text = box["text"].replace("\r\n", " / ")
                buttons = " ".join(b["text"] for b in box["buttons"])
                answer = "确定" if answer_question or "确定仍要继续升级吗" not in box["text"] else "取消"
                say(f"message box \"{box['title']}\": {text}  [{buttons}] -> the demo answers \"{answer}\"")
                driver.run("answer", harness.hexu(answer), title=TITLE, timeout_ms=10000)
                continue
            state = driver.state(caption=CAPTION)
            if state is None:
                raise SystemExit(f"the updater window went away; see {app.log_path}")
            items = harness.items_of(state)
            if items is not None:
                for line in items[shown:]:
                    print(f"   | {line}", flush=True)
                shown = max(shown, len(items))
                done = items and items[-1] in ENDINGS
                ready = harness.start_enabled(state)
                if done and ready:
                    break
            if time.monotonic() > deadline:
                raise SystemExit("the session did not end within 180 s\n" + harness.describe_window(state))
            time.sleep(0.3)

        display = open(os.path.join(BUILD, "x-display")).read().strip()
        r = state["rect"]
        left, top = max(r["left"], 0), max(r["top"], 0)
        geometry = f"{r['right'] - left}x{r['bottom'] - top}+{left}+{top}"
        subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", shot],
                       env={**os.environ, "DISPLAY": display}, check=True, timeout=60)
        say(f"screenshot of the finished window: {shot}")
        driver.run("click", harness.hexu("关闭窗口"), caption=CAPTION)
        try:
            app.proc.wait(30)
        except subprocess.TimeoutExpired:
            raise SystemExit("the updater did not end after its close button was clicked") from None
    finally:
        app.kill()


def main():
    harness.ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER: reap Wine's orphans
    os.makedirs(DEMO, exist_ok=True)
    www = os.path.join(DEMO, "www")
    world_readable_copy(os.path.join(REPO, "samples", "update"), www)
    port = free_port()
    server = Nginx(www, port)
    say(f"nginx serves samples/update on http://127.0.0.1:{port}/")
    try:
        exe = os.path.join(DEMO, "QXUpdate.exe")
        shutil.copy2(harness.EXE, exe)
        address = f"127.0.0.1:{port}"
        r = wine(QXADDR, exe, address)
        say(f"qxaddr wrote the server address into {exe}: {r.stdout.decode('utf-8', 'replace').strip()}")
        if r.returncode != 0:
            raise SystemExit("qxaddr failed")

        # A first run on this machine: no stored stamp, no demo folder.
        wine("reg", "delete", r"HKCU\Software\VB and VBA Program Settings\QXUpdate\System", "/f")
        wine("reg", "delete", r"HKCU\Software\QXUpdateDemo", "/f")
        shutil.rmtree(os.path.join(harness.PREFIX, "drive_c", "qxdemo"), ignore_errors=True)

        driver = harness.Driver()
        say("first run: the script is newer than anything this machine has seen")
        run_session(driver, exe, os.path.join(BUILD, "screenshot-first-run.png"), answer_question=True)
        first = len(server.requests())

        say("second run: the same script again, so the updater asks before going on")
        run_session(driver, exe, os.path.join(REPO, "build", "screenshot.png"), answer_question=True)
        second = server.requests()[first:]
        say("what the second run asked of the server:")
        for method, path in second:
            print(f"   | {method:4} {path}")
        gets = [p for m, p in second if m == "GET" and p.endswith("readme.txt")]
        say("readme.txt was unchanged, so the update line cost only its HEAD request"
            if not gets else "readme.txt was fetched again (its time stamp differed)")
        regs = wine("reg", "query", r"HKCU\Software\QXUpdateDemo").stdout.decode("utf-8", "replace")
        say("registry values the script wrote:\n" + "\n".join("   | " + l for l in regs.splitlines() if l.strip()))
        say("done")
    finally:
        server.stop()


if __name__ == "__main__":
    main()
