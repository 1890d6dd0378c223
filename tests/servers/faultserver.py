"""An HTTP server that misbehaves on purpose, for the download tests; tests/servers/servers.py runs it.

Paths have the form /<mode>/<size>/<name>. The file offered is <size> bytes long, byte i being
(i * 31 + 7) % 251, dated Tue, 15 Nov 1994 08:12:31 GMT. The mode says how the server gets it wrong:

  ok         a correct server: HEAD, ranges answered with 206
  norange    ranges ignored; GET sends 100 bytes more than HEAD announced
  stall      accepts the request and never answers
  slow       a steady slow link: the body trickles at about 24 KB/s
  midstall   GET sends its header and half the body, then nothing more
  replace    the file is replaced after the first GET for its name: later answers offer other bytes of
             the same length, byte i being (i * 17 + 3) % 241, with a newer Last-Modified, and honour If-Range
  keepalive  HTTP/1.1 with persistent connections
  kaconns    the number of connections that have served keepalive paths whose name begins with <name>,
             as the body (<size> unused)
"""
import http.server
import re
import socketserver
import threading
import time

LAST_MODIFIED = "Tue, 15 Nov 1994 08:12:31 GMT"
REPLACED_MODIFIED = "Wed, 16 Nov 1994 09:00:00 GMT"
PATH = re.compile(r"^/([a-z0-9]+)/([0-9]+)/([^/]+)$")
replaced_names, keepalive_peers, state_lock = set(), {}, threading.Lock()


def content(size, replaced=False):
    return bytes((i * 17 + 3) % 241 if replaced else (i * 31 + 7) % 251 for i in range(size))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        self.send_header("Last-Modified", REPLACED_MODIFIED if self.replaced else LAST_MODIFIED)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def parse(self):
        """False when the request is answered already."""
        m = PATH.match(self.path.split("?", 1)[0])
        if not m:
            self.send_error(400)
            return False
        self.mode, name = m.group(1), m.group(3)
        with state_lock:
            if self.mode == "keepalive":
                self.protocol_version, self.close_connection = "HTTP/1.1", False
                keepalive_peers.setdefault(name, set()).add(self.client_address)
            self.replaced = self.mode == "replace" and name in replaced_names
            if self.mode == "replace" and self.command == "GET":
                replaced_names.add(name)
            peers = set().union(*(seen for n, seen in keepalive_peers.items() if n.startswith(name.split(".")[0])))
        self.data = str(len(peers)).encode() if self.mode == "kaconns" else content(int(m.group(2)), self.replaced)
        if self.mode == "stall":
            time.sleep(3600)
            return False
        return True

    def do_HEAD(self):
        if not self.parse():
            return
        self.answer(200, headers=[("Content-Length", str(len(self.data)))])

    def do_GET(self):
        if not self.parse():
            return
        data = self.data
        if self.mode == "norange":
            body = content(len(data) + 100)
            return self.answer(200, body, [("Content-Length", str(len(body)))])
        m = re.match(r"^bytes=(\d+)-(\d+)$", self.headers.get("Range", ""))
        if_range = self.headers.get("If-Range")
        if m and if_range is not None and if_range != (REPLACED_MODIFIED if self.replaced else LAST_MODIFIED):
            m = None  # changed since: all of it
        first, last = (int(m.group(1)), min(int(m.group(2)), len(data) - 1)) if m else (0, len(data) - 1)
        body = data[first:last + 1]
        headers = [("Content-Length", str(len(body)))]
        if m and data:
            headers.append(("Content-Range", "bytes %d-%d/%d" % (first, first + len(body) - 1, len(data))))
        if self.mode == "midstall":
            self.answer(206, body[:len(body) // 2], headers)
            self.wfile.flush()
            time.sleep(3600)
        elif self.mode == "slow":
            self.answer(206 if m else 200, b"", headers)
            for at in range(0, len(body), 1200):
                self.wfile.write(body[at:at + 1200])
                self.wfile.flush()
                time.sleep(0.05)
        else:
            self.answer(206 if m and data else 200, body, headers)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
