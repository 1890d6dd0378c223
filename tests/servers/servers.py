#!/usr/bin/env python3
"""The test servers on 127.0.0.1. As a module: Nginx, one per end-to-end test. As a program,
`servers.py COMMAND...` runs COMMAND with nginx (plain, and over TLS with a certificate from a test CA
and one from a CA trusted nowhere) and the fault server, and hands them over in QX_NGINX_PORT,
QX_TLS_PORT, QX_TLS_UNTRUSTED_PORT, QX_TLS_CA (the test CA, DER), QX_FAULT_PORT, QX_WWW_ROOT and
QX_NGINX_ACCESS_LOG ('METHOD URI STATUS' lines)."""
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


def make_certificates(folder, name):
    """ca.der and server.crt/.key for 127.0.0.1, also as a DNS name: Wine's TLS client compares the
    host name with a certificate's DNS names only."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"
                "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", "ca.key", "-out", "ca.crt",
            "-subj", f"/CN={name}", "-addext", "basicConstraints=critical,CA:TRUE")
    openssl("x509", "-in", "ca.crt", "-outform", "DER", "-out", "ca.der")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
            "/CN=127.0.0.1")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "2", "-extfile", "ext", "-out", "server.crt")


class Nginx:
    """An nginx with its own configuration, logs and www root, which its workers (user nobody) can read;
    requests() reads its access log as (method, uri, status)."""

    def __init__(self, tls=False):
        self.root = tempfile.mkdtemp(prefix="qxnginx-")
        self.www = os.path.join(self.root, "www")
        self.folder = os.path.join(self.www, "qxupdate")
        os.makedirs(self.folder)
        for d in (self.root, self.www, self.folder):
            os.chmod(d, 0o755)
        self.port, self.proc, self.tls = free_port(), None, {}
        servers = f"server {{ listen 127.0.0.1:{self.port}; root {self.www};" \
                  " location /qxupdate/slow/ { limit_rate 256k; } }"
        if tls:
            for kind in ("trusted", "untrusted"):
                make_certificates(os.path.join(self.root, kind), "QXUpdate " + kind + " test CA")
                self.tls[kind] = free_port()
                servers += f"\nserver {{ listen 127.0.0.1:{self.tls[kind]} ssl; root {self.www};" \
                           f" ssl_certificate {self.root}/{kind}/server.crt;" \
                           f" ssl_certificate_key {self.root}/{kind}/server.key; }}"
        with open(os.path.join(self.root, "nginx.conf"), "w") as f:
            f.write(f"""daemon off; worker_processes 1; pid {self.root}/nginx.pid; error_log {self.root}/error.log;
events {{ worker_connections 64; }}
http {{
    log_format requests '$request_method $request_uri $status';
    access_log {self.root}/access.log requests;
    client_body_temp_path {self.root}/body; proxy_temp_path {self.root}/proxy;
    fastcgi_temp_path {self.root}/fastcgi; uwsgi_temp_path {self.root}/uwsgi; scgi_temp_path {self.root}/scgi;
    default_type application/octet-stream;
    types {{ text/plain txt; }}
    # Text is compressed for clients that ask, as web servers commonly do.
    gzip on; gzip_types text/plain; gzip_min_length 1;
    {servers}
}}
""")

    def start(self):
        self.proc = subprocess.Popen(["nginx", "-e", f"{self.root}/error.log", "-p", self.root, "-c",
                                      f"{self.root}/nginx.conf"], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        for port in [self.port, *self.tls.values()]:
            while True:
                try:
                    socket.create_connection(("127.0.0.1", port), 1).close()
                    break
                except OSError:
                    if self.proc.poll() is not None or time.monotonic() > deadline:
                        self.stop()
                        raise AssertionError(f"nginx did not start on port {port}")
                    time.sleep(0.05)
        return self

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def put(self, name, data):
        """A file below /qxupdate/."""
        path = os.path.join(self.folder, name)
        os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)

    def requests(self):
        try:
            with open(os.path.join(self.root, "access.log"), encoding="utf-8", errors="replace") as f:
                lines = [line.split() for line in f]
        except OSError:
            return []
        return [(p[0], p[1], int(p[2])) for p in lines if len(p) == 3]


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that nginx is stopped all the same
    nginx = Nginx(tls=True).start()
    fault = faultserver.Server(("127.0.0.1", 0), faultserver.Handler)
    threading.Thread(target=fault.serve_forever, daemon=True).start()
    env = dict(os.environ, QX_NGINX_PORT=str(nginx.port), QX_FAULT_PORT=str(fault.server_address[1]),
               QX_WWW_ROOT=nginx.www, QX_NGINX_ACCESS_LOG=f"{nginx.root}/access.log", QX_TLS_PORT=str(nginx.tls["trusted"]),
               QX_TLS_UNTRUSTED_PORT=str(nginx.tls["untrusted"]), QX_TLS_CA=f"{nginx.root}/trusted/ca.der")
    try:
        sys.exit(subprocess.call(sys.argv[1:], env=env))
    finally:
        nginx.stop()
