#!/usr/bin/python3
"""A release rolled out through a badly set CDN: nginx as the origin and, in
front of it, an nginx caching proxy that keeps every answer for an hour.
Release 1 reaches a real launcher through the proxy; release 2 is published
at the origin and only manifest.txt is refreshed in the proxy. Published
with the store, the launcher installs release 2; published the old way (the
files at their paths), the proxy hands it release 1's bytes for the new
manifest, and the file fails.

    cdn_rollout_test.py --launcher EXE --publish EXE --wine-run SCRIPT
"""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

ARGS = None


def freePort():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def startNginx(work, origin):
    originPort, proxyPort = freePort(), freePort()
    conf = os.path.join(work, "nginx.conf")
    os.makedirs(os.path.join(work, "tmp"))
    with open(conf, "w") as f:
        f.write("""daemon off;
master_process off;
pid %(work)s/nginx.pid;
events { worker_connections 64; }
http {
    access_log %(work)s/access.log;
    client_body_temp_path %(work)s/tmp;
    proxy_temp_path %(work)s/tmp;
    fastcgi_temp_path %(work)s/tmp;
    uwsgi_temp_path %(work)s/tmp;
    scgi_temp_path %(work)s/tmp;
    proxy_cache_path %(work)s/cache keys_zone=edge:1m;
    server {
        listen 127.0.0.1:%(originPort)d;
        root %(origin)s;
    }
    server {
        listen 127.0.0.1:%(proxyPort)d;
        location / {
            proxy_pass http://127.0.0.1:%(originPort)d;
            proxy_cache edge;
            proxy_cache_valid any 1h;
            proxy_ignore_headers Cache-Control Expires;
            # The operator's purge of one URL: fetched afresh and cached again.
            proxy_cache_bypass $http_x_refresh;
        }
    }
}
""" % {"work": work, "origin": origin, "originPort": originPort, "proxyPort": proxyPort})
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", work, "-c", conf, "-e", os.path.join(work, "error.log")])
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", proxyPort), timeout=0.2).close()
            return nginx, proxyPort
        except OSError:
            time.sleep(0.1)
    nginx.kill()
    sys.exit("nginx did not start")


def wine(*args):
    subprocess.run([ARGS.wine_run] + list(args), check=True, stdout=subprocess.DEVNULL, timeout=120)


def winePath(path):
    return "Z:" + path.replace("/", "\\")


def writeRelease(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for path, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as f:
            f.write(data)


def runLauncher(client):
    """Starts the launcher in client and returns its log once the run has ended."""
    log = os.path.join(client, "OrvelLauncher.log")
    before = open(log).read() if os.path.exists(log) else ""
    proc = subprocess.Popen([ARGS.wine_run, os.path.join(client, "OrvelLauncher.exe")], cwd=client,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 90
        while time.time() < deadline:
            text = open(log).read()[len(before):] if os.path.exists(log) else ""
            if "\trun-end\t" in text:
                return text
            time.sleep(0.2)
        sys.exit("the launcher's run did not end in %s" % client)
    finally:
        proc.kill()
        proc.wait(30)


def rollout(work, port, name, publish):
    """Release 1, then release 2 with only the manifest refreshed at the edge; returns the second run's log."""
    client = os.path.join(work, name + "-client")
    os.makedirs(client)
    shutil.copy(ARGS.launcher, os.path.join(client, "OrvelLauncher.exe"))
    with open(os.path.join(client, "launcher.ini"), "w") as f:
        f.write("[Launcher]\r\nUpdateUrl=http://127.0.0.1:%d/%s/\r\n" % (port, name))
    releases = [{"data/world.pak": os.urandom(300000), "maps/a.map": b"the first map"},
                {"data/world.pak": os.urandom(300000), "maps/a.map": b"the first map"}]
    logs = []
    for number, files in enumerate(releases, 1):
        publish(os.path.join(work, "%s-src%d" % (name, number)), files)
        if number == 2:
            subprocess.run(["curl", "-sf", "-o", "/dev/null", "-H", "X-Refresh: 1",
                            "http://127.0.0.1:%d/%s/manifest.txt" % (port, name)], check=True, timeout=30)
        logs.append(runLauncher(client))
        if number == 1:
            assert "\trun-end\t-\tupdated\t2 updated, 0 failed" in logs[0], logs[0]
    installed = open(os.path.join(client, "data", "world.pak"), "rb").read()
    return logs[1], installed == releases[1]["data/world.pak"]


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--publish", "--wine-run"):
        parser.add_argument(name, required=True)
    ARGS = parser.parse_args()
    for name in ("launcher", "publish", "wine_run"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    work = tempfile.mkdtemp(prefix="orvel-cdn-")
    origin = os.path.join(work, "origin")
    nginx = None
    try:
        nginx, port = startNginx(work, origin)

        def withStore(src, files):
            writeRelease(src, files)
            wine(ARGS.publish, "release", winePath(src), winePath(os.path.join(origin, "store")))

        def atPaths(src, files):
            # The old way: the release folder itself is served, files at their paths.
            writeRelease(os.path.join(origin, "paths"), files)
            wine(ARGS.publish, "manifest", winePath(os.path.join(origin, "paths")))

        log, right = rollout(work, port, "store", withStore)
        assert right and "\trun-end\t-\tupdated\t1 updated, 0 failed" in log, log
        assert "digest" not in log, log
        log, right = rollout(work, port, "paths", atPaths)
        assert not right and "\tfile-failed\tdata\\world.pak\tdigest\t" in log, log
        print("a release in the store rolls out through a stale cache; one at its paths fails there")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
