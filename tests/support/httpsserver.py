#!/usr/bin/python3
"""Throwaway HTTPS servers (Debian nginx) for the engine tests.

Two kinds of server share one root:
  trusted   - certificate from a fresh test CA that is installed into the host
              store (/usr/local/share/ca-certificates + update-ca-certificates)
              for as long as the server runs;
  untrusted - certificate from another fresh CA that is never installed.
Both certificates are for localhost / 127.0.0.1. nginx runs unprivileged in the
sense that it touches nothing outside its own temp folder (no /etc/nginx,
/var/log/nginx, /var/lib/nginx), as a single process (master_process off).

The installed CA is removed again whatever happens: by stopHttps() on a normal
end, by the caller's signal handling, and by a detached guard process that
removes it if its owner dies without saying so (even on SIGKILL). CAs left by a
crashed run whose owner is gone are removed at the next start.

Library use (see withservers.py): startHttps() / stopHttps().
CLI: httpsserver.py --root DIR [--work DIR] [--mode both|trusted|untrusted]
                    [--log FILE] [--port-file FILE] [--untrusted-port-file FILE]
     runs until SIGTERM/SIGINT.
"""

import argparse
import ctypes
import fcntl
import glob
import os
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
NGINX = "/usr/sbin/nginx"
OPENSSL = "openssl"
CA_STORE_DIR = "/usr/local/share/ca-certificates"
ETC_CERTS_DIR = "/etc/ssl/certs"
CA_HOOKS_DIR = "/etc/ca-certificates/update.d"
CA_FILE_PREFIX = "orvel-test-ca-"
CA_LOCK_FILE = "/run/lock/orvel-test-ca.lock" if os.path.isdir("/run/lock") else "/tmp/orvel-test-ca.lock"
CA_STALE_SECONDS = 12 * 3600
CERT_DAYS = "7"
START_TIMEOUT = 10.0
PORT_ATTEMPTS = 8
PR_SET_PDEATHSIG = 1


@dataclass
class CertPair:
    cert: str = ""
    key: str = ""


@dataclass
class CaInstall:
    path: str = ""          # file in CA_STORE_DIR; empty once removed
    guard: object = None    # pipe to the guard process (write end)


@dataclass
class NginxServer:
    label: str = ""
    port: int = 0
    prefix: str = ""
    proc: object = None


@dataclass
class Https:
    """Filled in step by step, so stopHttps() can undo a half-finished start."""
    work: str = ""
    root: str = ""
    accessLog: str = ""
    trustedCa: CertPair = field(default_factory=CertPair)
    untrustedCa: CertPair = field(default_factory=CertPair)
    install: CaInstall = field(default_factory=CaInstall)
    trusted: NginxServer = None
    untrusted: NginxServer = None
    error: str = ""


def say(text):
    sys.stderr.write("httpsserver: %s\n" % text)
    sys.stderr.flush()


LIBC = ctypes.CDLL(None, use_errno=True)


def dieWithParent():
    """preexec_fn: the child gets SIGTERM when the process that started it dies."""
    LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def run(args, cwd=None):
    """Runs a tool quietly; returns (ok, combined output)."""
    try:
        done = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as e:
        return False, str(e)
    return done.returncode == 0, done.stdout.decode("utf-8", "replace")


# ---------------------------------------------------------------- certificates

CA_CONFIG = """[req]
distinguished_name = dn
prompt = no
x509_extensions = ext
[dn]
CN = %(cn)s
O = Orvel Launcher tests
[ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
"""

SERVER_CONFIG = """[req]
distinguished_name = dn
prompt = no
[dn]
CN = localhost
O = Orvel Launcher tests
[ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def makeCa(folder, cn):
    os.makedirs(folder, exist_ok=True)
    config = os.path.join(folder, "ca.cnf")
    with open(config, "w") as f:
        f.write(CA_CONFIG % {"cn": cn})
    pair = CertPair(os.path.join(folder, "ca.crt"), os.path.join(folder, "ca.key"))
    ok, out = run([OPENSSL, "req", "-x509", "-new", "-config", config, "-newkey", "rsa:2048",
                   "-nodes", "-sha256", "-days", CERT_DAYS, "-keyout", pair.key, "-out", pair.cert])
    if not ok:
        say("openssl (CA) failed:\n" + out)
        return None
    return pair


def makeServerCert(folder, ca):
    config = os.path.join(folder, "server.cnf")
    with open(config, "w") as f:
        f.write(SERVER_CONFIG)
    pair = CertPair(os.path.join(folder, "server.crt"), os.path.join(folder, "server.key"))
    csr = os.path.join(folder, "server.csr")
    ok, out = run([OPENSSL, "req", "-new", "-config", config, "-newkey", "rsa:2048", "-nodes",
                   "-keyout", pair.key, "-out", csr])
    if ok:
        serial = "0x%x" % (secrets.randbits(63) | 1)
        ok, out = run([OPENSSL, "x509", "-req", "-in", csr, "-CA", ca.cert, "-CAkey", ca.key,
                       "-set_serial", serial, "-sha256", "-days", CERT_DAYS,
                       "-extfile", config, "-extensions", "ext", "-out", pair.cert])
    if not ok:
        say("openssl (server certificate) failed:\n" + out)
        return None
    return pair


# ------------------------------------------------------------- host CA store

def lockCaStore():
    """Serialises CA store changes between parallel test runs."""
    fd = os.open(CA_LOCK_FILE, os.O_RDWR | os.O_CREAT, 0o644)
    fcntl.flock(fd, fcntl.LOCK_EX)
    return fd


def unlockCaStore(fd):
    fcntl.flock(fd, fcntl.LOCK_UN)
    os.close(fd)


def pidAlive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def caOwnerPid(path):
    # orvel-test-ca-<owner pid>-<random>.crt
    parts = os.path.basename(path)[len(CA_FILE_PREFIX):].split("-")
    return int(parts[0]) if parts and parts[0].isdigit() else 0


def removeStaleCas():
    """Removes CAs of earlier runs whose owner is gone. Call with the store locked."""
    removed = []
    for path in glob.glob(os.path.join(CA_STORE_DIR, CA_FILE_PREFIX + "*.crt")):
        pid = caOwnerPid(path)
        try:
            age = time.time() - os.path.getmtime(path)
        except OSError:
            continue
        if pid and pidAlive(pid) and age < CA_STALE_SECONDS:
            continue
        try:
            os.unlink(path)
        except FileNotFoundError:
            continue
        removed.append(path)
    if removed:
        say("removed %d stale test CA(s)" % len(removed))
        rebuildCaStore(removed)
    return len(removed)


def rebuildCaStore(removedPaths):
    """Call with the store locked, after deleting CA files. Returns 1 on success."""
    ok, out = run(["update-ca-certificates", "--fresh"])
    if not ok:
        say("update-ca-certificates --fresh failed:\n" + out)
        return 0
    # update-ca-certificates drops a deleted local CA from /etc/ssl/certs but
    # never tells its update.d hooks (the Java keystore keeps it), so report
    # the removal to them the way it reports removals itself.
    lines = "".join("-%s/%s.pem\n" % (ETC_CERTS_DIR, os.path.basename(p)[:-len(".crt")])
                    for p in removedPaths)
    hooksOk, hooks = run(["run-parts", "--test", "--", CA_HOOKS_DIR])
    for hook in hooks.split() if hooksOk else []:
        try:
            done = subprocess.run([hook], input=lines.encode(), stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT)
        except OSError as e:
            say("CA hook %s: %s" % (hook, e))
            ok = False
            continue
        if done.returncode != 0:
            say("CA hook %s failed:\n%s" % (hook, done.stdout.decode("utf-8", "replace")))
            ok = False
    return 1 if ok else 0


def removeCaFile(path):
    """Removes one installed CA and rebuilds the store. Returns 1 on success."""
    fd = lockCaStore()
    try:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
        ok = rebuildCaStore([path])
    finally:
        unlockCaStore(fd)
    return ok


def startGuard(path):
    """Starts a detached process that removes 'path' unless told "done" first.

    It is double-forked into its own session so it outlives a SIGKILL of its
    owner and of the owner's process tree (CTest kills the tree on timeout).
    """
    proc = subprocess.Popen([PYTHON, os.path.abspath(__file__), "--guard-ca", path],
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True, cwd="/")
    proc.wait()  # the intermediate child exits once the guard is forked off
    return proc.stdin


def guardMain(path):
    if os.fork() > 0:
        os._exit(0)
    for signum in (signal.SIGINT, signal.SIGHUP, signal.SIGPIPE):
        signal.signal(signum, signal.SIG_IGN)
    told = b""
    while True:
        try:
            data = os.read(0, 64)
        except InterruptedError:
            continue
        except OSError:
            data = b""
        if not data:
            break
        told += data
    if b"done" not in told and os.path.exists(path):
        removeCaFile(path)
    return 0


def installCa(install, caCert):
    """Copies caCert into the host store. Fills 'install' before touching the store."""
    if os.geteuid() != 0:
        say("installing a CA into the host store needs root")
        return 0
    name = "%s%d-%s.crt" % (CA_FILE_PREFIX, os.getpid(), secrets.token_hex(4))
    install.path = os.path.join(CA_STORE_DIR, name)
    install.guard = startGuard(install.path)
    fd = lockCaStore()
    try:
        removeStaleCas()
        tmp = install.path + ".part"  # not *.crt, so never picked up half written
        shutil.copyfile(caCert, tmp)
        os.chmod(tmp, 0o644)
        os.replace(tmp, install.path)
        ok, out = run(["update-ca-certificates"])
    finally:
        unlockCaStore(fd)
    if not ok:
        say("update-ca-certificates failed:\n" + out)
        return 0
    return 1


def uninstallCa(install):
    ok = 1
    if install.path:
        try:
            os.unlink(install.path + ".part")
        except FileNotFoundError:
            pass
        if os.path.exists(install.path):
            ok = removeCaFile(install.path)
        if ok:
            install.path = ""
    if install.guard is not None and ok:
        try:
            install.guard.write(b"done\n")
            install.guard.flush()
        except OSError:
            pass
    if install.guard is not None:
        try:
            install.guard.close()
        except OSError:
            pass
        install.guard = None
    return ok


# ----------------------------------------------------------------------- nginx

NGINX_CONFIG = """daemon off;
master_process off;
worker_processes 1;
pid "%(prefix)s/nginx.pid";
lock_file "%(prefix)s/nginx.lock";
error_log "%(prefix)s/error.log" info;

events {
    worker_connections 256;
}

http {
    client_body_temp_path "%(prefix)s/tmp/body";
    proxy_temp_path "%(prefix)s/tmp/proxy";
    fastcgi_temp_path "%(prefix)s/tmp/fastcgi";
    uwsgi_temp_path "%(prefix)s/tmp/uwsgi";
    scgi_temp_path "%(prefix)s/tmp/scgi";

    types {}
    default_type application/octet-stream;
    server_tokens off;
    sendfile on;
    keepalive_timeout 60;

    log_format orvel escape=json '{"path":"$request_uri","ua":"$http_user_agent",'
        '"status":$status,"method":"$request_method","bytes":$body_bytes_sent,'
        '"server":"%(label)s","port":$server_port,"time":$msec}';
    access_log "%(accessLog)s" orvel;

    server {
        listen 127.0.0.1:%(port)d ssl;
        server_name localhost;
        ssl_certificate "%(cert)s";
        ssl_certificate_key "%(key)s";
        ssl_protocols TLSv1.2 TLSv1.3;
        root "%(root)s";

        location ~ ^/\\.faults\\.json {
            return 404;
        }
        location / {
            try_files $uri =404;
        }
    }
}
"""


def freePort():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def nginxSafe(path):
    # nginx expands $variables even inside quotes; keep such paths out.
    return not any(c in path for c in '$"\\;{}\n')


def stopNginx(server):
    if server is None or server.proc is None:
        return
    if server.proc.poll() is None:
        server.proc.terminate()
        try:
            server.proc.wait(5)
        except subprocess.TimeoutExpired:
            server.proc.kill()
            server.proc.wait()
    server.proc = None


def startNginx(server, root, pair, accessLog):
    """Starts nginx for 'server' (label and prefix set). Returns 1 once it accepts."""
    for path in (server.prefix, root, pair.cert, pair.key, accessLog):
        if not nginxSafe(path):
            say("path not usable in an nginx config: %r" % path)
            return 0
    os.makedirs(os.path.join(server.prefix, "tmp"), exist_ok=True)
    conf = os.path.join(server.prefix, "nginx.conf")
    errorLog = os.path.join(server.prefix, "error.log")
    for _ in range(PORT_ATTEMPTS):
        server.port = freePort()
        with open(conf, "w") as f:
            f.write(NGINX_CONFIG % {"prefix": server.prefix, "label": server.label,
                                    "accessLog": accessLog, "port": server.port,
                                    "cert": pair.cert, "key": pair.key, "root": root})
        pidFile = os.path.join(server.prefix, "nginx.pid")
        if os.path.exists(pidFile):
            os.unlink(pidFile)
        with open(os.path.join(server.prefix, "nginx.out"), "ab") as out:
            server.proc = subprocess.Popen(
                [NGINX, "-p", server.prefix + "/", "-c", conf, "-e", errorLog],
                stdin=subprocess.DEVNULL, stdout=out, stderr=out, preexec_fn=dieWithParent)
        deadline = time.time() + START_TIMEOUT
        while time.time() < deadline and server.proc.poll() is None:
            # nginx writes its pid file only after binding, so a connect that
            # succeeds with the pid file present is really this nginx.
            if os.path.exists(pidFile) and accepts(server.port):
                return 1
            time.sleep(0.05)
        stopNginx(server)
        log = ""
        if os.path.exists(errorLog):
            with open(errorLog, errors="replace") as f:
                log = f.read()
        if "Address already in use" in log:
            os.rename(errorLog, errorLog + ".%d" % server.port)
            continue  # someone took the port between our probe and nginx's bind
        say("nginx (%s) did not start:\n%s" % (server.label, log[-2000:]))
        return 0
    say("nginx (%s): no free port after %d attempts" % (server.label, PORT_ATTEMPTS))
    return 0


# --------------------------------------------------------------------- servers

def startHttps(https, wantTrusted=True, wantUntrusted=True):
    """Starts the requested servers; https.work/root/accessLog must be set.

    Returns 1 on success. On failure call stopHttps() all the same.
    """
    base = os.path.join(https.work, "https")
    tag = secrets.token_hex(3)
    if wantTrusted:
        https.trustedCa = makeCa(os.path.join(base, "trusted-ca"), "Orvel Test CA trusted " + tag)
        if https.trustedCa is None:
            return 0
        pair = makeServerCert(os.path.join(base, "trusted-ca"), https.trustedCa)
        if pair is None:
            return 0
        if not installCa(https.install, https.trustedCa.cert):
            return 0
        https.trusted = NginxServer("trusted", 0, os.path.join(base, "nginx-trusted"))
        if not startNginx(https.trusted, https.root, pair, https.accessLog):
            return 0
    if wantUntrusted:
        https.untrustedCa = makeCa(os.path.join(base, "untrusted-ca"), "Orvel Test CA untrusted " + tag)
        if https.untrustedCa is None:
            return 0
        pair = makeServerCert(os.path.join(base, "untrusted-ca"), https.untrustedCa)
        if pair is None:
            return 0
        https.untrusted = NginxServer("untrusted", 0, os.path.join(base, "nginx-untrusted"))
        if not startNginx(https.untrusted, https.root, pair, https.accessLog):
            return 0
    return 1


def stopHttps(https):
    """Stops the servers and removes the CA from the host store. Safe to repeat."""
    stopNginx(https.trusted)
    stopNginx(https.untrusted)
    return uninstallCa(https.install)


def writeAtomically(path, text):
    tmp = "%s.tmp%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--guard-ca":
        return guardMain(sys.argv[2])

    parser = argparse.ArgumentParser(description="HTTPS test servers (nginx)")
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--work", help="folder for certificates and nginx state (default: new temp folder)")
    parser.add_argument("--mode", choices=("both", "trusted", "untrusted"), default="both")
    parser.add_argument("--log", help="access log (JSON lines); default <work>/https-access.log")
    parser.add_argument("--port-file", help="receives the trusted server's port")
    parser.add_argument("--untrusted-port-file", help="receives the untrusted server's port")
    args = parser.parse_args()

    stop = {"signal": 0}

    def onSignal(signum, frame):
        stop["signal"] = signum

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, onSignal)

    ownWork = not args.work
    work = os.path.realpath(args.work or tempfile.mkdtemp(prefix="orvel-https-"))
    os.makedirs(work, exist_ok=True)
    https = Https(work=work, root=os.path.realpath(args.root),
                  accessLog=os.path.realpath(args.log or os.path.join(work, "https-access.log")))
    rc = 1
    try:
        if startHttps(https, args.mode != "untrusted", args.mode != "trusted"):
            if https.trusted:
                say("trusted https on 127.0.0.1:%d (CA %s)" % (https.trusted.port, https.trustedCa.cert))
                if args.port_file:
                    writeAtomically(args.port_file, "%d\n" % https.trusted.port)
            if https.untrusted:
                say("untrusted https on 127.0.0.1:%d" % https.untrusted.port)
                if args.untrusted_port_file:
                    writeAtomically(args.untrusted_port_file, "%d\n" % https.untrusted.port)
            say("access log %s" % https.accessLog)
            rc = 0
            while not stop["signal"]:
                for server in (https.trusted, https.untrusted):
                    if server and server.proc.poll() is not None:
                        say("nginx (%s) exited" % server.label)
                        stop["signal"] = -1
                time.sleep(0.2)
    finally:
        for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        if not stopHttps(https):
            rc = 1
        if ownWork:
            shutil.rmtree(work, ignore_errors=True)
    return rc


if __name__ == "__main__":
    sys.exit(main())
