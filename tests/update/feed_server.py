"""An update feed over real HTTP/1.1 on 127.0.0.1, and a forwarding proxy on 127.0.0.2,
for the updater's end-to-end tests. Standard library only.

The feed server serves a folder with ETag, Content-Length and Range (206;
200 with the whole file when If-Range names another ETag). Faults are set
per path, in process through server.faults or, when run as a program, in a
JSON control file read at each request ({"/files/ab..": ["drop", 1000]}):

  ["drop", N]         the first answer for the path stops after N body bytes (the connection is cut)
  ["drop", N, "moved"]  the same, and later answers carry another ETag (another mirror's copy)
  ["status", 404]     that status, a short text body
  ["html"]            200, an HTML page (a captive portal's)
  ["loop"]            302 to the path with a query, which redirects back, for ever
  ["size", N]         the file as if it held N bytes: cut short, or padded with "x"
  ["hang"]            no answer until the server stops

Every request is logged (path, Range, If-Range, status, body bytes sent),
so a test counts what was downloaded; the proxy logs the URLs it forwarded.

Usage: feed_server.py FOLDER [--faults FILE] | feed_server.py --proxy
(prints the port, then serves until killed)
"""
import hashlib
import http.client
import http.server
import json
import os
import socket
import sys
import threading
import urllib.parse
from dataclasses import dataclass, field


@dataclass
class Served:
    path: str
    range: str
    ifRange: str
    status: int
    sent: int


@dataclass
class Server:
    httpd: object
    port: int
    url: str  # ends in "/"
    folder: str = ""
    faults: dict = field(default_factory=dict)  # {path: fault}
    faultsFile: str = ""
    log: list = field(default_factory=list)  # Served, or the proxy's URLs
    dropped: set = field(default_factory=set)  # the paths whose "drop" happened
    released: threading.Event = field(default_factory=threading.Event)  # ends every hang
    lock: threading.Lock = field(default_factory=threading.Lock)


def bytesSent(server, path=None):
    """Body bytes the feed server sent, for one path or all."""
    with server.lock:
        return sum(entry.sent for entry in server.log if path in (None, entry.path))


def etagOf(data):
    return '"%s"' % hashlib.sha256(data).hexdigest()[:16]


def faultOf(server, path):
    if server.faultsFile and os.path.exists(server.faultsFile):
        with open(server.faultsFile, encoding="utf-8") as f:
            return json.load(f).get(path)
    return server.faults.get(path)


class FeedHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "feed/1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=(), limit=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        sent = len(body) if limit is None else min(limit, len(body))
        try:
            self.wfile.write(body[:sent])
            self.wfile.flush()
        except OSError:
            sent = 0
        if limit is not None:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        return sent

    def do_GET(self):
        state = self.server.state
        path = urllib.parse.urlsplit(self.path).path
        fault = faultOf(state, path) or [None]
        byteRange, ifRange = self.headers.get("Range", ""), self.headers.get("If-Range", "")
        served = Served(path, byteRange, ifRange, 0, 0)
        with state.lock:
            state.log.append(served)  # on arrival, so that a hung request shows too
        served.status, served.sent = self.serve(state, path, fault, byteRange, ifRange)

    def serve(self, state, path, fault, byteRange, ifRange):
        kind = fault[0]
        if kind == "hang":
            state.released.wait()
            self.close_connection = True
            return 0, 0
        if kind == "status":
            return fault[1], self.answer(fault[1], b"no such thing\n", [("Content-Type", "text/plain")])
        if kind == "html":
            page = b"<!DOCTYPE html><html><body><form>Sign in to the hotel network</form></body></html>\n"
            return 200, self.answer(200, page, [("Content-Type", "text/html; charset=utf-8")])
        if kind == "loop":
            there = path if "?" in self.path else path + "?again"
            return 302, self.answer(302, b"", [("Location", there)])
        local = os.path.join(state.folder, *[urllib.parse.unquote(p) for p in path.split("/") if p])
        if ".." in path.split("/") or not os.path.isfile(local):
            return 404, self.answer(404, b"not found\n", [("Content-Type", "text/plain")])
        with open(local, "rb") as f:
            data = f.read()
        if kind == "size":
            data = data[:fault[1]] + b"x" * max(0, fault[1] - len(data))
        etag = etagOf(data + (b"moved" if fault[2:] == ["moved"] and path in state.dropped else b""))
        headers = [("ETag", etag), ("Content-Type", "application/octet-stream"), ("Accept-Ranges", "bytes")]
        status, start = 200, 0
        if byteRange.startswith("bytes=") and (not ifRange or ifRange == etag):
            first, _, last = byteRange[6:].partition("-")
            start, end = int(first), int(last) + 1 if last else len(data)
            if start >= len(data):
                return 416, self.answer(416, b"", [("Content-Range", "bytes */%d" % len(data))])
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, end - 1, len(data))))
            status, data = 206, data[start:end]
        limit = None
        with state.lock:
            if kind == "drop" and path not in state.dropped:  # the first answer only: a resume follows
                state.dropped.add(path)
                limit = fault[1]
        return status, self.answer(status, data, headers, limit)


class ProxyHandler(http.server.BaseHTTPRequestHandler):
    """Forwards a GET for an absolute URL, as a proxy does."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        state = self.server.state
        target = urllib.parse.urlsplit(self.path)
        with state.lock:
            state.log.append(self.path)
        if target.scheme != "http" or not target.hostname:
            self.send_error(400, "absolute http URL expected")
            return
        upstream = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=60)
        headers = {name: value for name, value in self.headers.items()
                   if name.lower() not in ("proxy-connection", "connection", "keep-alive", "host")}
        upstream.request("GET", target.path or "/", headers=headers)
        response = upstream.getresponse()
        body = response.read()
        self.send_response(response.status)
        for name, value in response.getheaders():
            if name.lower() not in ("connection", "keep-alive", "transfer-encoding", "content-length", "server",
                                    "date"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        upstream.close()


def start(handler, folder="", faultsFile="", host="127.0.0.1"):
    httpd = http.server.ThreadingHTTPServer((host, 0), handler)
    httpd.daemon_threads = True
    port = httpd.server_address[1]
    httpd.state = Server(httpd, port, "http://%s:%d/" % (host, port), folder, faultsFile=faultsFile)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    return httpd.state


def startFeed(folder, faultsFile=""):
    """A feed server on a free port, serving folder."""
    return start(FeedHandler, folder, faultsFile)


def startProxy():
    """A proxy on another loopback address than the feed's: Wine's WinHTTP
    takes a proxy on the server's own host name for the server itself."""
    return start(ProxyHandler, host="127.0.0.2")


def stop(server):
    server.released.set()
    server.httpd.shutdown()
    server.httpd.server_close()


if __name__ == "__main__":
    if sys.argv[1:] == ["--proxy"]:
        running = startProxy()
    else:
        faults = sys.argv[3] if sys.argv[2:3] == ["--faults"] else ""
        running = startFeed(os.path.abspath(sys.argv[1]), faults and os.path.abspath(faults))
    print(running.port, flush=True)
    threading.Event().wait()
