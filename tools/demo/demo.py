#!/usr/bin/python3
"""The launcher's whole job on a bundled sample: publish a release, serve it
with nginx on 127.0.0.1, and let OrvelLauncher.exe bring a half-installed
client up to date under Wine, then start its game.

    demo.py WINDOWS_BUILD NATIVE_BUILD [--headless]

With DISPLAY set (and no --headless) the launcher opens on that display for
you to use; otherwise it runs on a private Xvfb screen and is driven as a
player would: wait for the update, press JUGAR. Screenshots of the stages go
to <WINDOWS_BUILD>/../demo/screenshots. Everything started here is stopped
at the end, also on Ctrl+C.
"""

import hashlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"
WINDOW = (780, 440)
BIG_FILE = "data/packs/world.pak"
NEWS = (
    "Parche 1.1|Nueva region: las Colinas del Ocaso\n"
    "Evento|Doble experiencia todo el fin de semana\n"
    "Torneo|Inscripciones abiertas hasta el sabado\n"
    "Comunidad|Gracias por 10.000 aventureros conectados\n"
)

started = []  # (name, Popen) to stop at the end


def say(text):
    print(text, flush=True)


def content(size, seed):
    """Deterministic bytes: the same release every time."""
    out = bytearray()
    block = hashlib.sha256(str(seed).encode()).digest()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


def sampleRelease(sampleGame):
    """A few dozen files in nested folders, one name with a space, one big file."""
    files = {"main.exe": open(sampleGame, "rb").read()}
    for i in range(1, 13):
        files["data/maps/region_%02d.map" % i] = content(20000 + 1500 * i, "map%d" % i)
    for i in range(1, 11):
        files["data/textures/terrain_%d.tex" % i] = content(48000 + 700 * i, "tex%d" % i)
    for name in ("theme 1.ogg", "battle.ogg", "town.ogg"):
        files["sounds/music/" + name] = content(90000, name)
    for i in range(1, 7):
        files["sounds/effects/hit_%d.wav" % i] = content(9000 + i, "hit%d" % i)
    files["config/defaults.cfg"] = b"[Video]\r\nWidth=1280\r\nHeight=720\r\n"
    files["config/keys.cfg"] = b"[Keys]\r\nJump=Space\r\n"
    files[BIG_FILE] = content(6 * 1024 * 1024, "world")
    return files


def freePort():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def startNginx(work, serverDir, bigObject):
    port = freePort()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
master_process off;
pid %(work)s/nginx.pid;
error_log %(work)s/nginx-error.log warn;
events { worker_connections 64; }
http {
    types { application/octet-stream bin; }
    default_type application/octet-stream;
    access_log %(work)s/access.log;
    client_body_temp_path %(work)s/tmp;
    proxy_temp_path %(work)s/tmp;
    fastcgi_temp_path %(work)s/tmp;
    uwsgi_temp_path %(work)s/tmp;
    scgi_temp_path %(work)s/tmp;
    server {
        listen 127.0.0.1:%(port)d;
        root %(root)s;
        # Slowed down on purpose, so that each stage stays on screen long
        # enough to be seen and photographed.
        location = /manifest.txt { limit_rate 1k; }
        location = %(big)s { limit_rate 2m; }
    }
}
""" % {"work": work, "port": port, "root": serverDir, "big": bigObject})
    os.makedirs(os.path.join(work, "tmp"), exist_ok=True)
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", work, "-c", conf, "-e", os.path.join(work, "nginx-error.log")])
    started.append(("nginx", nginx))
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return port
        except OSError:
            time.sleep(0.1)
    raise SystemExit("nginx did not start; see %s/nginx-error.log" % work)


def startXvfb():
    display = 90
    while os.path.exists("/tmp/.X%d-lock" % display):
        display += 1
    xvfb = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(("Xvfb", xvfb))
    for _ in range(100):
        if os.path.exists("/tmp/.X11-unix/X%d" % display):
            return ":%d" % display
        time.sleep(0.1)
    raise SystemExit("Xvfb did not start")


def xdotool(*args):
    return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True).stdout.strip()


def screenshot(path):
    subprocess.run([IMPORT, "-window", "root", path], check=True, capture_output=True)


def pixel(shot, x, y):
    out = subprocess.run([CONVERT, shot, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "rgb:-"],
                         capture_output=True, check=True).stdout
    return tuple(out[:3])


def waitFor(what, test, timeout):
    end = time.time() + timeout
    while time.time() < end:
        value = test()
        if value:
            return value
        time.sleep(0.2)
    raise SystemExit("gave up waiting for " + what)


def accessLog(work):
    """(path, status, bytes) of every request nginx has answered."""
    entries = []
    try:
        for line in open(os.path.join(work, "access.log")):
            request = line.split('"')[1].split()
            fields = line.split('"')[2].split()
            entries.append((request[1], int(fields[0]), int(fields[1])))
    except (OSError, IndexError, ValueError):
        pass
    return entries


def stopAll():
    for name, proc in reversed(started):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
    started.clear()


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    winBuild, nativeBuild = map(os.path.abspath, sys.argv[1:3])
    headless = "--headless" in sys.argv or not os.environ.get("DISPLAY")
    publish = os.path.join(nativeBuild, "tools", "publish", "orvel-publish")
    launcherExe = os.path.join(winBuild, "OrvelLauncher.exe")
    sampleGame = os.path.join(winBuild, "tools", "demo", "sample-main.exe")

    work = os.path.join(os.path.dirname(winBuild), "demo")
    shutil.rmtree(work, ignore_errors=True)
    serverDir, clientDir, shots = (os.path.join(work, d) for d in ("server", "client", "screenshots"))
    for d in (serverDir, clientDir, shots):
        os.makedirs(d)

    # The operator's side: a release published into the store, with the news, served by nginx.
    release = sampleRelease(sampleGame)
    source = os.path.join(work, "release")
    for path, data in release.items():
        os.makedirs(os.path.dirname(os.path.join(source, path)) or source, exist_ok=True)
        open(os.path.join(source, path), "wb").write(data)
    open(os.path.join(work, "news.txt"), "w").write(NEWS)
    subprocess.run([publish, "release", source, serverDir, "--news", os.path.join(work, "news.txt")], check=True,
                   stdout=subprocess.DEVNULL)
    stored = {"/objects/%s/%s" % (d[:2], d): p for p, d in
              ((p, hashlib.sha256(data).hexdigest()) for p, data in release.items())}
    port = startNginx(work, serverDir, next(url for url, path in stored.items() if path == BIG_FILE))
    say("release: %d files, %.1f MiB, served by nginx at http://127.0.0.1:%d/" %
        (len(release), sum(map(len, release.values())) / 1048576, port))

    # The player's side: a half-installed client.
    missing = ["data/maps/region_07.map", BIG_FILE]
    damaged = "sounds/music/theme 1.ogg"
    for path, data in release.items():
        if path in missing:
            continue
        if path == damaged:
            data = data[:1000] + bytes(b ^ 0xFF for b in data[1000:2000]) + data[2000:]
        target = os.path.join(clientDir, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, "wb").write(data)
    shutil.copy(launcherExe, clientDir)
    with open(os.path.join(clientDir, "launcher.ini"), "w") as f:
        f.write("[Launcher]\r\nUpdateUrl=http://127.0.0.1:%d/\r\nWebUrl=https://orvel.example.invalid/\r\n" % port)
    say("client: %s (missing: %s; damaged: %s)" % (clientDir, ", ".join(missing), damaged))

    env = dict(os.environ, WINEPREFIX=os.path.join(winBuild, "wineprefix"))
    if headless:
        env["DISPLAY"] = startXvfb()
    os.environ["DISPLAY"] = env["DISPLAY"]
    begin = time.time()
    launcher = subprocess.Popen([WINE_RUN, "OrvelLauncher.exe"], cwd=clientDir, env=env)
    started.append(("launcher", launcher))

    if not headless:
        say("the launcher is open on your display; close it or press JUGAR to end the demo")
        launcher.wait()
    else:
        window = waitFor("the launcher window", lambda: xdotool("search", "--name", "^Orvel$"), 120).split()[0]
        geometry = xdotool("getwindowgeometry", "--shell", window)
        pos = dict(line.split("=") for line in geometry.splitlines())
        left, top = int(pos["X"]), int(pos["Y"])
        shot = os.path.join(shots, "1-checking.png")
        screenshot(shot)
        waitFor("the first download", lambda: any(p in stored for p, _, _ in accessLog(work)), 60)
        screenshot(os.path.join(shots, "2-downloading.png"))

        def ready():
            screenshot(os.path.join(shots, "3-ready.png"))
            r, g, b = pixel(os.path.join(shots, "3-ready.png"), left + 600, top + 368)
            return r > 200 and g > 170  # the play button's enabled gold
        waitFor("the end of the update", ready, 120)
        elapsed = time.time() - begin
        xdotool("mousemove", str(left + 665), str(top + 392), "click", "1")
        record = os.path.join(clientDir, "sample-game.txt")
        waitFor("the game to start", lambda: os.path.exists(record), 60)
        gameWindow = waitFor("the game window", lambda: xdotool("search", "--name", "juego de ejemplo"), 60)
        time.sleep(1)
        screenshot(os.path.join(shots, "4-game-started.png"))
        launcher.wait(30)

        requests = [e for e in accessLog(work) if e[0] in stored]
        verify = subprocess.run([publish, "verify", clientDir, "--manifest", os.path.join(serverDir, "manifest.txt")],
                                capture_output=True, text=True)
        say("")
        say("files checked:    %d (every file of the manifest)" % len(release))
        say("downloaded:       %d files, %.2f MiB: %s" % (len(requests), sum(e[2] for e in requests) / 1048576,
                                                         ", ".join(stored[e[0]] for e in requests)))
        say("time to play:     %.1f s from start to JUGAR enabled (nginx serves the manifest at 1 KiB/s and the big"
            " file at 2 MiB/s, so that each stage can be seen)" % elapsed)
        say("client folder:    %s" % (verify.stdout.strip().splitlines() or ["?"])[-1])
        say("game started:     %s" % open(record).read().replace("\n", "  ").strip())
        say("launcher exit:    %d" % launcher.returncode)
        say("screenshots:      %s" % shots)
        if verify.returncode != 0 or launcher.returncode != 0:
            raise SystemExit("the demo did not end as it should; see above")
        xdotool("windowclose", gameWindow.split()[0])


def interrupted(signum, _frame):
    stopAll()
    sys.exit(128 + signum)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)
    try:
        main()
    finally:
        stopAll()
