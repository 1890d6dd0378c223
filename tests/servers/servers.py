#!/usr/bin/env python3
"""The test servers on 127.0.0.1. As a module: Nginx, one per end-to-end test. `servers.py COMMAND...` runs
COMMAND with nginx (plain, and over TLS with certificates from a test CA and from a CA trusted nowhere) and the
fault server in QX_NGINX_PORT, QX_TLS_PORT, QX_TLS_UNTRUSTED_PORT, QX_TLS_CA (DER), QX_FAULT_PORT, QX_WWW_ROOT
and QX_NGINX_ACCESS_LOG ('METHOD URI STATUS' lines)."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import faultserver


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def make_certificates(folder, name):
    # 127.0.0.1 also as a DNS name: Wine's TLS client compares the host name with DNS names only.
    def openssl(*args):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", *args], cwd=folder,
                       check=True, capture_output=True)
    os.makedirs(folder)
    openssl("-keyout", "ca.key", "-out", "ca.der", "-outform", "DER", "-subj", f"/CN={name}",
            "-addext", "basicConstraints=critical,CA:TRUE")
    openssl("-keyout", "server.key", "-out", "server.crt", "-subj", "/CN=127.0.0.1", "-CA", "ca.der", "-CAkey", "ca.key",
            "-addext", "basicConstraints=critical,CA:FALSE", "-addext", "extendedKeyUsage=serverAuth",
            "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost")


class Nginx:
    """An nginx with its own configuration, logs and www root, which its workers (user nobody) can read."""

    def __init__(self, tls=False):
        self.root = tempfile.mkdtemp(prefix="qxnginx-")
        self.www = os.path.join(self.root, "www")
        self.folder = os.path.join(self.www, "qxupdate")
        os.makedirs(self.folder)
        os.chmod(self.root, 0o755)  # mkdtemp's folder is its owner's alone; the rest follows the umask
        self.port, self.proc, self.tls = free_port(), None, {}
        self.address = f"127.0.0.1:{self.port}"
        servers = f"server {{ listen 127.0.0.1:{self.port}; root {self.www};" \
                  " location /qxupdate/slow { limit_rate 256k; } }"
        if tls:
            for kind in ("trusted", "untrusted"):
                make_certificates(os.path.join(self.root, kind), "QXUpdate " + kind + " test CA")
                self.tls[kind] = free_port()
                servers += f"\nserver {{ listen 127.0.0.1:{self.tls[kind]} ssl; root {self.www};" \
                           f" ssl_certificate {kind}/server.crt; ssl_certificate_key {kind}/server.key; }}"
        with open(os.path.join(self.root, "nginx.conf"), "w") as f:
            f.write(f"""daemon off; worker_processes 1; pid {self.root}/nginx.pid; error_log {self.root}/error.log;
events {{ worker_connections 64; }}
http {{
    log_format requests '$request_method $request_uri $status';
    access_log {self.root}/access.log requests;
    client_body_temp_path {self.root}/body; proxy_temp_path {self.root}/proxy;
    fastcgi_temp_path {self.root}/fastcgi; uwsgi_temp_path {self.root}/uwsgi; scgi_temp_path {self.root}/scgi;
    default_type application/octet-stream;
    # Whatever a client asks to have compressed is, as web servers commonly do with text.
    gzip on; gzip_types *; gzip_min_length 1;
    {servers}
}}
""")

    def start(self):
        self.proc = subprocess.Popen(["nginx", "-e", f"{self.root}/error.log", "-p", self.root, "-c", "nginx.conf"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        for port in [self.port, *self.tls.values()]:
            while not listening(port):
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise AssertionError(f"nginx did not start on port {port}")
                time.sleep(0.05)
        return self

    def stop(self):
        self.proc.terminate()  # a no-op once it has ended
        self.proc.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)

    def put(self, name, data):
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def requests(self):
        with open(os.path.join(self.root, "access.log"), encoding="utf-8", errors="replace") as f:
            return [(p[0], p[1], int(p[2])) for p in map(str.split, f) if len(p) == 3]


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that nginx is stopped all the same
    nginx = Nginx(tls=True).start()
    fault = faultserver.Server(("127.0.0.1", 0), faultserver.Handler)
    threading.Thread(target=fault.serve_forever, daemon=True).start()
    env = dict(os.environ, QX_NGINX_PORT=str(nginx.port), QX_FAULT_PORT=str(fault.server_address[1]),
               QX_WWW_ROOT=nginx.www, QX_NGINX_ACCESS_LOG=f"{nginx.root}/access.log",
               QX_TLS_PORT=str(nginx.tls["trusted"]),
               QX_TLS_UNTRUSTED_PORT=str(nginx.tls["untrusted"]), QX_TLS_CA=f"{nginx.root}/trusted/ca.der")
    try:
        sys.exit(subprocess.call(sys.argv[1:], env=env))
    finally:
        nginx.stop()
