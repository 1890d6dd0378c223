"""An HTTP server that misbehaves on purpose, for the download tests.

Paths have the form /<mode>/<size>/<name>. The file offered is <size> bytes
long, byte i being (i * 31 + 7) % 251, and dated Tue, 15 Nov 1994 08:12:31
GMT. The mode says how the server gets it wrong:

  ok         a correct server: HEAD, ranges answered with 206
  norange    ranges ignored; GET sends 100 bytes more than HEAD announced
  head404    HEAD answers 404
  nolength   HEAD without Content-Length
  stall      accepts the request and never answers
  nolm       no Last-Modified
  slow       a steady slow link: the body trickles at about 24 KB/s
  midstall   GET sends its header and half the body, then nothing more
  replace    the file is replaced after the first GET for its name: later
             answers offer other bytes of the same length with a newer
             Last-Modified, and honour If-Range
  keepalive  HTTP/1.1 with persistent connections
  kaconns    the number of connections that have served keepalive paths
             whose name begins with <name>, as the body (<size> unused)

Standard library only; tests/servers/servers.py runs it.
"""
import http.server
import re
import socketserver
import threading
import time

LAST_MODIFIED = "Tue, 15 Nov 1994 08:12:31 GMT"
REPLACED_MODIFIED = "Wed, 16 Nov 1994 09:00:00 GMT"
SLOW_PIECE = 1200  # bytes every 50 ms: 24 KB/s
PATH = re.compile(r"^/([a-z0-9]+)/([0-9]+)/[^/]+$")


def content(size, replaced=False):
    if replaced:
        return bytes((i * 17 + 3) % 241 for i in range(size))
    return bytes((i * 31 + 7) % 251 for i in range(size))


# Names whose file has been replaced, and the connections (client
# addresses) that served each keepalive name.
replaced_names = set()
keepalive_peers = {}
state_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "faultserver"

    def log_message(self, fmt, *args):  # quiet
        pass

    def parse(self):
        m = PATH.match(self.path.split("?", 1)[0])
        if not m:
            self.send_error(400)
            return None, None
        mode = m.group(1)
        self.name = self.path.split("?", 1)[0].rsplit("/", 1)[1]
        if mode == "keepalive":
            self.protocol_version = "HTTP/1.1"
            self.close_connection = False
            with state_lock:
                keepalive_peers.setdefault(self.name, set()).add(self.client_address)
        with state_lock:
            self.replaced = mode == "replace" and self.name in replaced_names
            prefix = self.name.split(".")[0]
            peers = set().union(*(seen for name, seen in keepalive_peers.items() if name.startswith(prefix)))
        self.data = str(len(peers)).encode() if mode == "kaconns" else content(int(m.group(2)), self.replaced)
        return mode, len(self.data)

    def last_modified(self, mode):
        return REPLACED_MODIFIED if self.replaced else LAST_MODIFIED

    def common_headers(self, mode):
        if mode != "nolm":
            self.send_header("Last-Modified", self.last_modified(mode))

    def do_HEAD(self):
        mode, size = self.parse()
        if mode is None:
            return
        if mode == "stall":
            time.sleep(3600)
            return
        if mode == "head404":
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.common_headers(mode)
        if mode != "nolength":
            self.send_header("Content-Length", str(size))
        self.end_headers()

    def do_GET(self):
        mode, size = self.parse()
        if mode is None:
            return
        if mode == "stall":
            time.sleep(3600)
            return
        data = self.data
        if_range = self.headers.get("If-Range")
        if mode == "replace":
            with state_lock:
                replaced_names.add(self.name)
        if mode == "norange":
            body = content(size + 100)
            self.send_response(200)
            self.common_headers(mode)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        first, last = 0, len(data) - 1
        m = re.match(r"^bytes=(\d+)-(\d+)$", self.headers.get("Range", ""))
        if m and if_range is not None and if_range != self.last_modified(mode):
            m = None  # the file has changed: all of it
        if m:
            first, last = int(m.group(1)), min(int(m.group(2)), len(data) - 1)
        if first >= len(data) and len(data) > 0:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % len(data))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = data[first:last + 1]
        self.send_response(206 if m and data else 200)
        self.common_headers(mode)
        if m and data:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, first + len(body) - 1, len(data)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "midstall":
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            time.sleep(3600)
            return
        if mode == "slow":
            for at in range(0, len(body), SLOW_PIECE):
                self.wfile.write(body[at:at + SLOW_PIECE])
                self.wfile.flush()
                time.sleep(0.05)
            return
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
