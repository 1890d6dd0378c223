#!/usr/bin/env python3
"""An HTTP server that misbehaves on purpose, for the download tests.

Paths have the form /<mode>/<size>/<name>. The file offered is <size> bytes
long, byte i being (i * 31 + 7) % 251, and dated Tue, 15 Nov 1994 08:12:31
GMT. The mode says how the server gets it wrong:

  ok         a correct server: HEAD, ranges answered with 206
  norange    ranges ignored; GET sends 100 bytes more than HEAD announced
  head404    HEAD answers 404
  head500    HEAD answers 500
  nolength   HEAD without Content-Length
  biglength  HEAD announces 1000 bytes more than there are
  short      each range answered with at most 1000 bytes
  cut        GET announces the whole range, sends half and hangs up
  stall      accepts the request and never answers
  nolm       no Last-Modified
  oddlm      Last-Modified that is no date

Standard library only. Prints nothing; writes its port to --port-file.
"""
import argparse
import http.server
import re
import socketserver
import sys
import threading
import time

LAST_MODIFIED = "Tue, 15 Nov 1994 08:12:31 GMT"
SHORT_SLICE = 1000
PATH = re.compile(r"^/([a-z0-9]+)/([0-9]+)/[^/]+$")


def content(size):
    return bytes((i * 31 + 7) % 251 for i in range(size))


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
        return m.group(1), int(m.group(2))

    def common_headers(self, mode):
        if mode == "oddlm":
            self.send_header("Last-Modified", "yesterday")
        elif mode != "nolm":
            self.send_header("Last-Modified", LAST_MODIFIED)

    def do_HEAD(self):
        mode, size = self.parse()
        if mode is None:
            return
        if mode == "stall":
            time.sleep(3600)
            return
        if mode in ("head404", "head500"):
            self.send_response(int(mode[4:]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.common_headers(mode)
        if mode == "biglength":
            self.send_header("Content-Length", str(size + 1000))
        elif mode != "nolength":
            self.send_header("Content-Length", str(size))
        self.end_headers()

    def do_GET(self):
        mode, size = self.parse()
        if mode is None:
            return
        if mode == "stall":
            time.sleep(3600)
            return
        data = content(size)
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
        if m:
            first, last = int(m.group(1)), min(int(m.group(2)), len(data) - 1)
        if first >= len(data) and len(data) > 0:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % len(data))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = data[first:last + 1]
        if mode == "short":
            body = body[:SHORT_SLICE]
        self.send_response(206 if m and data else 200)
        self.common_headers(mode)
        if m and data:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, first + len(body) - 1, len(data)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "cut":
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(2)
            return
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    import os
    os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
