#!/usr/bin/python3
"""Local HTTP/1.1 server for the engine tests.

Serves the files under --root on 127.0.0.1 (free port, written to --port-file),
appends one JSON line per request to --log, and injects faults per path as
described by <root>/.faults.json, which is re-read on every request.

.faults.json example:
    {"*": {"delay": 0.3},
     "/a.bin": {"drop_after": 100},
     "/b.bin": {"status": 500},
     "/c.bin": {"redirect": "/a.bin"},
     "/d.bin": {"slow": 512, "delay": null}}
Per-path keys override "*" key by key; null removes a "*" key for that path.
Keys: status, redirect, drop_after (+ reset: true for RST instead of FIN),
delay (seconds), slow (bytes per chunk, 0.05 s between chunks).
"""

import argparse
import json
import os
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FAULTS_NAME = ".faults.json"
CHUNK_BYTES = 64 * 1024
SLOW_PAUSE = 0.05
IDLE_TIMEOUT = 60  # seconds an idle keep-alive connection may hold its thread

# Shared by all handler threads; every field is guarded by "lock".
STATE = {
    "lock": threading.Lock(),
    "inflight": 0,
    "peak": 0,
    "logFile": None,
    "root": b"",
    "hidden": set(),
}


def loadFaults(root):
    """Returns (faults dict, error text). A missing file means no faults."""
    path = os.path.join(root, os.fsencode(FAULTS_NAME))
    error = ""
    # A test may rewrite the file while we read it; give it a moment to settle.
    for _ in range(10):
        try:
            with open(path, "rb") as f:
                raw = f.read()
        except FileNotFoundError:
            return {}, ""
        except OSError as e:
            return {}, "cannot read %s: %s" % (FAULTS_NAME, e)
        try:
            faults = json.loads(raw.decode("utf-8")) if raw.strip() else {}
        except ValueError as e:
            error = "bad %s: %s" % (FAULTS_NAME, e)
            time.sleep(0.02)
            continue
        if not isinstance(faults, dict):
            return {}, "bad %s: top level must be an object" % FAULTS_NAME
        return faults, ""
    return {}, error


def faultsFor(faults, rawPath):
    merged = {}
    star = faults.get("*")
    if isinstance(star, dict):
        merged.update({k: v for k, v in star.items() if v is not None})
    own = faults.get(rawPath)
    if own is None and "?" in rawPath:
        own = faults.get(rawPath.split("?", 1)[0])
    if isinstance(own, dict):
        for key, value in own.items():
            if value is None:
                merged.pop(key, None)
            else:
                merged[key] = value
    return merged


def resolvePath(rawPath):
    """Maps a raw request path to a file under the root, or None."""
    target = rawPath
    if "://" in target.split("?", 1)[0]:
        target = urllib.parse.urlsplit(target).path or "/"
    target = target.split("?", 1)[0].split("#", 1)[0]
    if not target.startswith("/"):
        return None
    decoded = urllib.parse.unquote_to_bytes(target)
    if b"\x00" in decoded:
        return None
    root = STATE["root"]
    full = os.path.realpath(os.path.join(root, decoded.lstrip(b"/")))
    if not full.startswith(root + b"/"):
        return None
    if full in STATE["hidden"]:
        return None
    if os.path.dirname(full) == root and os.path.basename(full).startswith(os.fsencode(FAULTS_NAME)):
        return None  # also covers "<faults>.tmp" files a test renames into place
    if not os.path.isfile(full):
        return None
    return full


def sendStatus(h, code, withBody, extraHeaders=()):
    h.send_response(code)
    h.rec["status"] = code
    for name, value in extraHeaders:
        h.send_header(name, value)
    body = b""
    if code >= 200 and code not in (204, 304):
        phrase = h.responses.get(code, ("",))[0]
        body = ("%d %s\n" % (code, phrase)).encode("ascii", "replace")
        h.send_header("Content-Type", "text/plain")
        h.send_header("Content-Length", str(len(body)))
    h.end_headers()
    if withBody and body:
        h.wfile.write(body)
        h.rec["bytes"] = len(body)


def dropConnection(h, reset):
    h.close_connection = True
    sock = h.connection
    if reset:
        # Linger 0: close() sends RST and discards anything still unsent.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
        return
    sock.shutdown(socket.SHUT_RDWR)


def respond(h, withBody):
    faults, error = loadFaults(STATE["root"])
    if error:
        sys.stderr.write(error + "\n")
        sendStatus(h, 500, withBody)
        return
    fault = faultsFor(faults, h.path)

    delay = float(fault.get("delay", 0) or 0)
    if delay > 0:
        time.sleep(delay)

    status = int(fault.get("status", 0) or 0)
    if status and status != 200:
        sendStatus(h, status, withBody)
        return

    if "redirect" in fault:
        location = str(fault["redirect"])
        host = h.headers.get("Host")
        if location.startswith("/") and host:
            location = "http://" + host + location
        sendStatus(h, 302, withBody, [("Location", location)])
        return

    full = resolvePath(h.path)
    if full is None:
        sendStatus(h, 404, withBody)
        return
    try:
        f = open(full, "rb")
    except OSError:
        sendStatus(h, 404, withBody)
        return
    with f:
        size = os.fstat(f.fileno()).st_size
        h.send_response(200)
        h.rec["status"] = 200
        h.send_header("Content-Type", "application/octet-stream")
        h.send_header("Content-Length", str(size))
        h.end_headers()
        if not withBody:
            return

        limit = size
        dropAfter = fault.get("drop_after")
        if dropAfter is not None:
            limit = max(0, min(int(dropAfter), size))
        slow = int(fault.get("slow", 0) or 0)
        chunk = slow if slow > 0 else CHUNK_BYTES

        sent = 0
        while sent < limit:
            data = f.read(min(chunk, limit - sent))
            if not data:
                break  # file shrank under us; the short body is the truth
            if slow > 0 and sent > 0:
                time.sleep(SLOW_PAUSE)
            h.wfile.write(data)
            sent += len(data)
            h.rec["bytes"] = sent

        if dropAfter is not None:
            dropConnection(h, bool(fault.get("reset")))


def handleRequest(h, method):
    start = time.time()
    lock = STATE["lock"]
    with lock:
        STATE["inflight"] += 1
        inflight = STATE["inflight"]
        STATE["peak"] = max(STATE["peak"], inflight)
    h.rec = {"status": 0, "bytes": 0}
    try:
        if method in ("GET", "HEAD"):
            respond(h, method == "GET")
        else:
            # Request bodies are not read, so the connection cannot be reused.
            h.close_connection = True
            sendStatus(h, 405, True, [("Allow", "GET, HEAD"), ("Connection", "close")])
    except (OSError, ValueError, TypeError) as e:
        # Client went away, or a fault value had the wrong type.
        h.close_connection = True
        sys.stderr.write("%s %s: %s\n" % (method, h.path, e))
        if h.rec["status"] == 0 and not isinstance(e, OSError):
            try:
                sendStatus(h, 500, method == "GET")
            except OSError:
                pass
    finally:
        end = time.time()
        with lock:
            STATE["inflight"] -= 1
            line = json.dumps({
                "path": h.path,
                "method": method,
                "ua": h.headers.get("User-Agent", ""),
                "start": start,
                "end": end,
                "inflight": inflight,
                "peak": STATE["peak"],
                "status": h.rec["status"],
                "bytes": h.rec["bytes"],
            })
            STATE["logFile"].write(line + "\n")
            STATE["logFile"].flush()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvelTestServer/1"
    sys_version = ""
    timeout = IDLE_TIMEOUT

    def log_message(self, format, *args):
        pass  # the JSON log is the record

    def version_string(self):
        return self.server_version

    def do_GET(self):
        handleRequest(self, "GET")

    def do_HEAD(self):
        handleRequest(self, "HEAD")

    def do_POST(self):
        handleRequest(self, "POST")

    def do_PUT(self):
        handleRequest(self, "PUT")

    def do_DELETE(self):
        handleRequest(self, "DELETE")

    def do_OPTIONS(self):
        handleRequest(self, "OPTIONS")

    def do_PATCH(self):
        handleRequest(self, "PATCH")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def server_bind(self):
        # Skip HTTPServer's getfqdn(): no name lookups from a test server.
        socketserver.TCPServer.server_bind(self)
        self.server_name = "127.0.0.1"
        self.server_port = self.server_address[1]


def writeAtomically(path, text):
    tmp = "%s.tmp%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write(text)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description="HTTP test server with fault injection")
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--port-file", required=True, help="receives the port once listening")
    parser.add_argument("--log", required=True, help="JSON lines request log (appended)")
    args = parser.parse_args()

    root = os.path.realpath(args.root)
    if not os.path.isdir(root):
        sys.stderr.write("testserver: no such folder: %s\n" % args.root)
        return 2
    STATE["root"] = os.fsencode(root)
    STATE["hidden"] = {
        os.fsencode(os.path.realpath(args.log)),
        os.fsencode(os.path.realpath(args.port_file)),
    }
    STATE["logFile"] = open(args.log, "a", encoding="utf-8")

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda signum, frame: stop.set())
    signal.signal(signal.SIGINT, lambda signum, frame: stop.set())

    server = Server(("127.0.0.1", 0), Handler)
    worker = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2})
    worker.start()
    writeAtomically(args.port_file, "%d\n" % server.server_address[1])

    while not stop.wait(0.5):
        pass
    server.shutdown()
    server.server_close()
    worker.join()
    STATE["logFile"].close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
