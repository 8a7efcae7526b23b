#!/usr/bin/python3
"""The tests' update server, run around one test command.

    server.py [--tls] [--root DIR] -- COMMAND ARGS...

Makes a work folder (orvel-test-* under $TMPDIR or /tmp) holding the server root
(unless --root), serves it on 127.0.0.1 from threads of this process and runs
COMMAND with ORVEL_TEST_WORK, ORVEL_TEST_ROOT, ORVEL_TEST_LOG, ORVEL_TEST_HTTP_PORT;
with --tls also ORVEL_TEST_HTTPS_PORT (certificate for localhost and 127.0.0.1
from a test CA that COMMAND trusts) and ORVEL_TEST_HTTPS_UNTRUSTED_PORT (from a CA
nobody trusts), same root, faults and log. Exits with COMMAND's code once all is
stopped and the work folder removed (ORVEL_TEST_KEEP=1 keeps it); 77 when --tls
finds no way to a private mount namespace.

Trust: with --tls COMMAND runs in a private mount namespace where a bundle of the
test CA alone covers /etc/ssl/certs/ca-certificates.crt, the first place Wine's
crypt32 reads the host's roots from; the machine's store stays as it was. crypt32
keeps those roots once per wineserver, so COMMAND needs a WINEPREFIX of its own,
whose wineserver is stopped before COMMAND and waited for after it, in the namespace.

Log: one JSON line per finished request: path (as requested), method, ua, range
(the Range header or ""), status, bytes (of body sent), inflight (requests in
flight when it started, itself included), start, end (epoch seconds), tls.

Faults: <root>/.faults.json, read for every request: {PATH or "*": {KEY: VALUE}}, PATH
without its query; a path's keys override those of "*" one by one, null removes one.
Files named .faults*, .release* or .inflight (the count of requests in flight) are
never served. Keys: status N (that answer; retry_after TEXT adds a Retry-After
header); times N (only the path's first N requests
are faulty); delay S (seconds before the headers); hold NAME (wait for
<root>/.release-NAME before the headers, or with hold_after N after the headers and N
body bytes); drop_after N (close after the headers and N bytes; RST with reset true);
stall_after N (then send nothing more); stall_headers true (never answer); drip S (the
body byte by byte S seconds apart); slow N (N-byte pieces 0.05 s apart); length N
(declare Content-Length N, send the file, close); no_length true (no Content-Length:
the body ends with the connection); redirect PATH (302 to PATH on the same server, or to PATH
as it is when it is an absolute URL, e.g. from the TLS port to the plain one);
ignore_range true (200 with the whole file even for a Range request); range_shift N
(a 206 whose range and body start N bytes late); signed_by KEY (for PATH.sig, PATH
signed by the private KEY, as openssl dgst -sha256 -sign does).
Holds and stalls last at most 300 s; stalls end when the client closes.
"""

import argparse
import ctypes
import fcntl
import http.server
import io
import json
import os
import re
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import urllib.parse

WAIT_LIMIT = 300
HOST_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
PR_SET_PDEATHSIG = 1

ROOT = ""
LOCK = threading.Lock()
SHARED = {"inflight": 0, "counts": {}, "log": None}
RUN = {"command": None, "signal": 0}


def say(text):
    print("server.py: " + text, file=sys.stderr, flush=True)


def faultFor(path, count):
    """The merged fault for this request of path ({} once its "times" are used up)."""
    try:
        with open(os.path.join(ROOT, ".faults.json"), "rb") as f:
            text = f.read()
    except FileNotFoundError:
        return {}
    faults = json.loads(text) if text.strip() else {}
    fault = dict(faults.get("*") or {}, **(faults.get(path) or {}))
    fault = {key: value for key, value in fault.items() if value is not None}
    return fault if count <= int(fault.get("times", count)) else {}


def noteInflight():
    """<root>/.inflight: the requests now in flight, so a test can wait for its last ones to be logged."""
    with open(os.path.join(ROOT, ".inflight"), "w") as f:
        f.write(str(SHARED["inflight"]))


def waitUntil(ready, limit=WAIT_LIMIT, pause=0.05):
    deadline = time.time() + limit
    while not ready() and time.time() < deadline:
        time.sleep(pause)


def localFile(path):
    """The file under the root that path names, or None."""
    try:
        full = os.path.realpath(os.path.join(ROOT, urllib.parse.unquote(path).lstrip("/")))
    except ValueError:
        return None
    hidden = os.path.basename(full).startswith((".faults", ".release", ".inflight"))
    return full if full.startswith(ROOT + os.sep) and not hidden and os.path.isfile(full) else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 60  # an idle keep-alive connection gives its thread back

    def log_message(self, *args):
        pass  # the JSON log is the record

    def do_GET(self):
        self.serve(True)

    def do_HEAD(self):
        self.serve(False)

    def serve(self, withBody):
        start, path = time.time(), self.path.split("?", 1)[0]
        with LOCK:
            SHARED["inflight"] += 1
            inflight = SHARED["inflight"]
            count = SHARED["counts"][path] = SHARED["counts"].get(path, 0) + 1
            noteInflight()
        self.status = self.sent = 0
        try:
            self.respond(path, faultFor(path, count), withBody)
        except (ValueError, TypeError, subprocess.CalledProcessError) as e:
            say("%s: %s" % (self.path, e))  # a bad .faults.json or fault value
            if not self.status:
                self.answer(500, withBody)
        except OSError:
            self.close_connection = True  # the client went away
        finally:
            with LOCK:
                SHARED["inflight"] -= 1
                SHARED["log"].write(json.dumps({
                    "path": self.path, "method": self.command, "ua": self.headers.get("User-Agent", ""),
                    "range": self.headers.get("Range", ""), "status": self.status, "bytes": self.sent,
                    "inflight": inflight, "start": start, "end": time.time(), "tls": self.server.tls}) + "\n")
                noteInflight()

    def respond(self, path, fault, withBody):
        if fault.get("stall_headers"):
            return self.waitForClose()
        time.sleep(float(fault.get("delay", 0)))
        if "hold" in fault and "hold_after" not in fault:
            self.waitForRelease(fault)
        if "status" in fault:
            extra = {"Retry-After": str(fault["retry_after"])} if "retry_after" in fault else {}
            return self.answer(int(fault["status"]), withBody, extra)
        if "redirect" in fault:
            host = self.headers.get("Host") or "127.0.0.1:%d" % self.server.server_port
            scheme = "https" if self.server.tls else "http"
            target = fault["redirect"] if "://" in fault["redirect"] else scheme + "://" + host + fault["redirect"]
            return self.answer(302, withBody, {"Location": target})
        signed = localFile(path[:-len(".sig")]) if "signed_by" in fault and path.endswith(".sig") else None
        if signed:
            source = io.BytesIO(subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(fault["signed_by"]), signed],
                                               check=True, capture_output=True).stdout)
        elif localFile(path) and "signed_by" not in fault:
            source = open(localFile(path), "rb")
        else:
            return self.answer(404, withBody)
        with source:
            self.sendFile(source, fault, withBody)

    def sendFile(self, source, fault, withBody):
        size = source.seek(0, io.SEEK_END)
        first, last, status, headers = 0, size - 1, 200, {}
        asked = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", "").strip())
        if asked and not fault.get("ignore_range"):
            if int(asked.group(1)) >= size:
                return self.answer(416, withBody, {"Content-Range": "bytes */%d" % size})
            last = min(int(asked.group(2) or last), last)
            first = min(int(asked.group(1)) + int(fault.get("range_shift", 0)), last)
            status, headers["Content-Range"] = 206, "bytes %d-%d/%d" % (first, last, size)
        length = last + 1 - first
        if fault.get("no_length"):
            headers["Connection"] = "close"
        else:
            headers["Content-Length"] = str(fault.get("length", length))
        self.close_connection = self.close_connection or "length" in fault or "no_length" in fault
        self.head(status, headers, "application/octet-stream")
        if not withBody:
            return
        source.seek(first)
        cuts = ("drop_after", "stall_after") + (("hold_after",) if "hold" in fault else ())
        cut = min(next((int(fault[k]) for k in cuts if k in fault), length), length)
        self.pace(source, cut, fault)
        if "drop_after" in fault:
            self.drop(fault.get("reset"))
        elif "stall_after" in fault:
            self.waitForClose()
        else:
            if "hold_after" in fault:
                self.waitForRelease(fault)
            self.pace(source, length - cut, fault)

    def pace(self, source, count, fault):
        """Sends count bytes of source, in pieces as drip or slow ask."""
        step, pause = 1 << 16, 0.0
        if "drip" in fault:
            step, pause = 1, float(fault["drip"])
        elif "slow" in fault:
            step, pause = max(1, int(fault["slow"])), 0.05
        while count > 0:
            data = source.read(min(step, count))
            if not data:
                break
            self.wfile.write(data)
            self.sent, count = self.sent + len(data), count - len(data)
            if count and pause:
                time.sleep(pause)

    def drop(self, reset):
        self.close_connection = True
        if not reset:
            return self.connection.shutdown(socket.SHUT_RDWR)
        # Linger 0 makes the close send RST instead of FIN, and throws away what the client has
        # not acknowledged yet: the bytes already sent arrive first.
        fd = self.connection.fileno()
        waitUntil(lambda: struct.unpack("i", fcntl.ioctl(fd, termios.TIOCOUTQ, b"\0" * 4))[0] == 0, 10, 0.01)
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def waitForRelease(self, fault):
        waitUntil(lambda: os.path.exists(os.path.join(ROOT, ".release-%s" % fault["hold"])))

    def waitForClose(self):
        self.close_connection = True
        self.connection.settimeout(WAIT_LIMIT)
        while self.connection.recv(4096):
            pass

    def head(self, status, headers, contentType):
        self.send_response(status)
        self.status = status
        for name, value in dict(headers, **{"Content-Type": contentType}).items():
            self.send_header(name, value)
        self.end_headers()

    def answer(self, status, withBody, headers=None):
        text = ("%d %s\n" % (status, self.responses.get(status, ("",))[0])).encode()
        self.head(status, dict(headers or {}, **{"Content-Length": str(len(text))}), "text/plain")
        if withBody:
            self.wfile.write(text)
            self.sent = len(text)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, context=None):
        super().__init__(("127.0.0.1", 0), Handler)
        self.tls = context is not None
        if context:
            # The handshake happens in the connection's own thread, on its first read.
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        threading.Thread(target=self.serve_forever, args=(0.2,), daemon=True).start()

    def server_bind(self):
        socketserver.TCPServer.server_bind(self)  # no name lookup for 127.0.0.1
        self.server_name, self.server_port = "127.0.0.1", self.server_address[1]

    def handle_error(self, request, address):
        pass  # a client that went away or refused the certificate


def tlsContext(folder, name):
    """A server context whose certificate comes from a new CA; returns (context, CA file)."""
    ca, caKey, cert, key = (os.path.join(folder, name + suffix) for suffix in ("-ca.pem", "-ca.key", ".pem", ".key"))
    newCertificate = ("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2")
    for args in (("-subj", "/CN=Orvel test CA " + name, "-addext", "basicConstraints=critical,CA:TRUE",
                  "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", caKey, "-out", ca),
                 ("-CA", ca, "-CAkey", caKey, "-subj", "/CN=localhost", "-addext", "basicConstraints=critical,CA:FALSE",
                  "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-addext", "extendedKeyUsage=serverAuth",
                  "-keyout", key, "-out", cert)):
        subprocess.run(newCertificate + args, check=True, stdin=subprocess.DEVNULL, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context, ca


def privateTrust(bundle):
    """The command prefix that runs a command trusting bundle alone, or None."""
    script = 'mount --bind "$0" %s && exec "$@"' % HOST_BUNDLE
    for unshare in ([["unshare", "-m"]] if os.geteuid() == 0 else []) + [["unshare", "-Urm"]]:
        if subprocess.run(unshare + ["sh", "-c", script, bundle, "true"], capture_output=True).returncode == 0:
            return unshare + ["sh", "-c", script, bundle]
    return None


def onSignal(signum, frame):
    # Passed on to the command's whole process group; a second signal ends it at once.
    again, RUN["signal"] = RUN["signal"], RUN["signal"] or signum
    if RUN["command"]:
        try:
            os.killpg(RUN["command"].pid, signal.SIGKILL if again else signum)
        except OSError:
            pass


def runCommand(command, env):
    def dieWithRunner():
        ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    try:
        if not RUN["signal"]:
            RUN["command"] = subprocess.Popen(command, env=env, process_group=0, preexec_fn=dieWithRunner)
    except OSError as e:
        say("cannot run %s: %s" % (command[0], e))
        return 127
    rc = RUN["command"].wait() if RUN["command"] else 0
    return 128 - rc if rc < 0 else rc


def main(argv):
    global ROOT
    parser = argparse.ArgumentParser(prog="server.py", usage="%(prog)s [--tls] [--root DIR] -- COMMAND ARGS...")
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--root")
    split = argv.index("--") if "--" in argv else len(argv)
    options, command = parser.parse_args(argv[:split]), argv[split + 1:]
    if not command:
        parser.error("no command")
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, onSignal)
    work = os.path.realpath(tempfile.mkdtemp(prefix="orvel-test-"))
    servers = []
    try:
        ROOT = os.path.realpath(options.root or os.path.join(work, "root"))
        os.makedirs(ROOT, exist_ok=True)
        log = os.path.join(work, "requests.log")
        SHARED["log"] = open(log, "a", buffering=1, encoding="utf-8")
        servers.append(Server())
        env = dict(os.environ, ORVEL_TEST_WORK=work, ORVEL_TEST_ROOT=ROOT, ORVEL_TEST_LOG=log,
                   ORVEL_TEST_HTTP_PORT=str(servers[0].server_port))
        if options.tls:
            (trusted, ca), (untrusted, _) = tlsContext(work, "trusted"), tlsContext(work, "untrusted")
            wrapper = privateTrust(ca)
            if not wrapper:
                say("skipped: no private mount namespace (unshare -m or -Urm) to trust the test CA in")
                return 77
            servers += [Server(trusted), Server(untrusted)]
            env.update(ORVEL_TEST_HTTPS_PORT=str(servers[1].server_port),
                       ORVEL_TEST_HTTPS_UNTRUSTED_PORT=str(servers[2].server_port))
            wine = 'wineserver -k 2>/dev/null; "$@"; rc=$?; wineserver -w; exit $rc'
            command = wrapper + (["sh", "-c", wine, "sh"] if env.get("WINEPREFIX") else []) + command
        return runCommand(command, env)
    finally:
        for server in servers:
            server.shutdown()
            server.server_close()
        if os.environ.get("ORVEL_TEST_KEEP") == "1":
            say("kept " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
        if RUN["signal"]:
            sys.exit(128 + RUN["signal"])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
