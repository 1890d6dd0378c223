"""An HTTP server that misbehaves on purpose for the download tests. Paths are /<mode>/<size>/<name>: <size> bytes,
byte i being (i * 31 + 7) % 251. Modes: ok, a correct server; norange: ranges ignored, GET sends 100 bytes more than
HEAD announced; stall: never answers; midstall: GET sends its header and half the body, then nothing; keepalive:
HTTP/1.1, persistent; kaconns: the body is how many connections served keepalive paths named <name>..."""
import http.server
import re
import socketserver
import threading
import time

PATH = re.compile(r"^/([a-z0-9]+)/([0-9]+)/([^/]+)$")
keepalive_peers, peers_lock = {}, threading.Lock()


def content(size):
    return bytes((i * 31 + 7) % 251 for i in range(size))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    log_message = lambda *_: None

    def answer(self, status, body, headers=(), sent=None):  # headers for all of body; then sent, or all of it
        self.send_response(status)
        for name, value in [("Last-Modified", "Tue, 15 Nov 1994 08:12:31 GMT"), ("Content-Length", str(len(body))),
                            *headers]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body if sent is None else sent)

    def parse(self):
        """False when the request is answered already, or never will be."""
        m = PATH.match(self.path)  # the tests ask for no other paths
        self.mode, name = m.group(1), m.group(3)
        with peers_lock:
            if self.mode == "keepalive":
                self.protocol_version, self.close_connection = "HTTP/1.1", False
                keepalive_peers.setdefault(name, set()).add(self.client_address)
            peers = set().union(*(seen for n, seen in keepalive_peers.items() if n.startswith(name.split(".")[0])))
        self.data = str(len(peers)).encode() if self.mode == "kaconns" else content(int(m.group(2)))
        if self.mode == "stall":
            time.sleep(3600)
        return self.mode != "stall"

    def do_HEAD(self):
        if self.parse():
            self.answer(200, self.data, sent=b"")

    def do_GET(self):
        if not self.parse():
            return
        data = self.data
        if self.mode == "norange":
            return self.answer(200, content(len(data) + 100))
        m = re.match(r"^bytes=(\d+)-(\d+)$", self.headers.get("Range", "")) if data else None
        first, last = (int(m.group(1)), min(int(m.group(2)), len(data) - 1)) if m else (0, len(data) - 1)
        body = data[first:last + 1]
        headers = [("Content-Range", f"bytes {first}-{last}/{len(data)}")] if m else []
        self.answer(206 if m else 200, body, headers, body[:len(body) // 2] if self.mode == "midstall" else None)
        if self.mode == "midstall":
            self.wfile.flush()
            time.sleep(3600)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
