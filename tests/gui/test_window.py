#!/usr/bin/python3
"""The launcher window driven as a player would: real launcher starts under Wine
against the local test server, seen through screenshots and through what the
Windows side knows of its windows (window_probe).

    server.py -- test_window.py --launcher EXE --game EXE --probe EXE --wine-run SCRIPT --prefix DIR

Needs a 1920x1080 X screen to itself (the pointer is shared): DISPLAY, or the
test run's screen named in ORVEL_TEST_DISPLAY_FILE; xdotool and ImageMagick.
"""

import argparse
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
WIDTH, HEIGHT = 780, 440
CENTRED = (570, 320, 1350, 760)  # the window centred on 1920 x 1080
PARKED = (5, 5)  # a screen point away from the window
# Client points: the controls' centres, two rows of JUGAR (its top row and one
# of its face), the right end of the progress track, a band point outside every
# control and a point on the picture.
PLAY, REPAIR, WEB, MINIMIZE = (665, 392), (181, 412), (88, 412), (716, 23)
PLAY_TOP, PLAY_FACE, TRACK_END = 366, 370, (546, 386)
BAND, PICTURE = (400, 430), (390, 120)
# Text areas (x from, x to, y from, y to) and a row of plain band below each.
STATUS, STATUS_BLANK_ROW = (48, 500, 356, 376), 379  # left of the percentage
WEB_TEXT, WEB_BLANK_ROW = (48, 128, 402, 422), 430

DOWNLOADING = "Descargando 1 archivo(s)..."
FAILED = "1 archivo(s) no se pudieron actualizar. Proba Reparar."
OTHER_TEXTS = ("Buscando actualizaciones...", "Iniciando...")
NO_GAME = "No se encontro main.exe. El launcher tiene que estar en la carpeta del cliente."
DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def run(*args, **kwargs):
    return subprocess.run([str(a) for a in args], check=True, stdout=subprocess.PIPE, timeout=300,
                          **kwargs).stdout.decode(errors="replace").replace("\r", "")


def warm(pixel):
    return pixel[0] - pixel[2] > 60  # gold and bronze, not slate, grey or the band


def mean(pixels):
    return tuple(sum(p[i] for p in pixels) // len(pixels) for i in range(3))


def words(columns):
    """(first, last) column of each word of an ink line: stretches apart by 4 or more blank columns."""
    return [(m.start(), m.end() - 1) for m in re.finditer(r"#+(?:\.{1,3}#+)*", columns)]


def sameWords(a, b, slack=2):
    return len(a) == len(b) and all(abs(p - q) <= slack for u, v in zip(a, b) for p, q in zip(u, v))


class Shot:
    """The window's client area on the screen at one moment."""

    def __init__(self, origin):
        self.raw = subprocess.run(["/usr/bin/import", "-window", "root", "-crop", "%dx%d+%d+%d" % (
            WIDTH, HEIGHT, origin[0], origin[1]), "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE,
            timeout=60).stdout

    def at(self, x, y):
        i = (y * WIDTH + x) * 3
        return tuple(self.raw[i:i + 3])

    def play(self, y):
        """The mean colour of one of JUGAR's rows, inside its edges."""
        return mean([self.at(x, y) for x in range(594, 736, 4)])

    def ink(self, area, blankRow):
        """The area's columns with a pixel standing out from the band row below, as '#'."""
        x0, x1, y0, y1 = area
        columns = "".join("#" if any(max(abs(a - b) for a, b in zip(self.at(x, y), self.at(x, blankRow))) > 45
                                     for y in range(y0, y1)) else "." for x in range(x0, x1))
        return columns.rstrip(".")

    def playEnabled(self):
        return warm(self.play(PLAY_FACE))

    def filled(self):
        return warm(self.at(*TRACK_END))


class WindowTest(unittest.TestCase):

    def setUp(self):
        self.proc, self.case, self.origin, self.procs, self.cases = None, None, CENTRED[:2], [], []
        self.addCleanup(self.stopLauncher)
        self.park()

    # --- the release, the client folder and the server ---------------------------

    def makeClient(self, case, body, webUrl, game=True, launcher=None):
        """Publishes one file (and news) for case and makes a client folder for it, its launcher the given build."""
        self.case = case
        self.cases.append(case)
        release = pathlib.Path(ROOT, case)
        release.mkdir()
        (release / "data.bin").write_bytes(body)
        (release / "manifest.txt").write_text("%s %d data.bin\n" % (hashlib.sha256(body).hexdigest(), len(body)))
        (release / "news.txt").write_text("General|Bienvenidos\n")
        self.client = os.path.join(WORK, case + " client")  # a space: the game must still start from it
        os.makedirs(self.client)
        shutil.copy(launcher or ARGS.launcher, os.path.join(self.client, "OrvelLauncher.exe"))
        if game:
            shutil.copy(ARGS.game, os.path.join(self.client, "main.exe"))
        with open(os.path.join(self.client, "launcher.ini"), "w", newline="") as f:
            f.write("[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s/%s/\r\nWebUrl=%s\r\n"
                    % (os.environ["ORVEL_TEST_HTTP_PORT"], case, webUrl))
        # Stands in for the desktop's URL opener, which Wine hands links to.
        self.bin = os.path.join(WORK, case + "-bin")
        os.makedirs(self.bin)
        with open(os.path.join(self.bin, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\necho "$*" >> "%s/opened.txt"\n' % self.bin)
        os.chmod(os.path.join(self.bin, "xdg-open"), 0o755)

    def fault(self, name, fault):
        """Sets the server's fault for one of this case's files."""
        path = os.path.join(ROOT, ".faults.json")
        faults = json.loads(pathlib.Path(path).read_text()) if os.path.exists(path) else {}
        faults["/%s/%s" % (self.case, name)] = fault
        pathlib.Path(path + ".new").write_text(json.dumps(faults))
        os.replace(path + ".new", path)  # the server never sees half a file

    def nameLauncher(self, build):
        """Names a launcher build in this case's release (#launcher and its store object); returns the object."""
        digest = hashlib.sha256(build).hexdigest()
        release = pathlib.Path(ROOT, self.case)
        stored = release / "objects" / digest[:2] / digest
        stored.parent.mkdir(parents=True, exist_ok=True)
        stored.write_bytes(build)
        lines = [line for line in (release / "manifest.txt").read_text().splitlines() if line[:1] != "#"]
        (release / "manifest.txt").write_text("".join("%s\n" % line for line in
                                                      ["#launcher %s %d" % (digest, len(build))] + lines))
        return "objects/%s/%s" % (digest[:2], digest)

    def hold(self, name, until):
        """Holds the answer for one of this case's files until released."""
        self.fault(name, {"hold": self.case + "-" + until})

    def release(self, hold, case=None):
        open(os.path.join(ROOT, ".release-%s-%s" % (case or self.case, hold)), "w").close()

    def requests(self, name, case=None):
        with open(os.environ["ORVEL_TEST_LOG"]) as f:
            return sum(json.loads(line)["path"] == "/%s/%s" % (case or self.case, name) for line in f)

    def lines(self, path):
        return pathlib.Path(path).read_text(errors="replace").splitlines() if os.path.exists(path) else []

    # --- the launcher and its window ---------------------------------------------

    def env(self):
        return dict(os.environ, WINEPREFIX=ARGS.prefix, PATH=self.bin + os.pathsep + os.environ["PATH"])

    def probe(self, *args):
        # Wine now and then fails to start a program while a process of the prefix exits (status 1, nothing
        # run): the probe only reads windows, so a second start answers the same question.
        try:
            return run(ARGS.wine_run, ARGS.probe, *args, env=self.env(), cwd=WORK)
        except subprocess.CalledProcessError as error:
            print("window_probe %s: status %d, tried again" % (" ".join(args), error.returncode), file=sys.stderr)
            return run(ARGS.wine_run, ARGS.probe, *args, env=self.env(), cwd=WORK)

    def events(self):
        """The (event, reason) of each line of the client folder's log."""
        return [tuple(line.split("\t")[1:4:2]) for line in self.lines(os.path.join(self.client, "OrvelLauncher.log"))]

    def waitForRuns(self, count):
        self.waitUntil(lambda: sum(e[0] == "run-end" for e in self.events()) >= count, "%d runs to end" % count, 60)
        return self.events()

    def programs(self):
        """The program of each launcher window, as Windows names it, in lower case."""
        lines = self.probe("window", "OrvelLauncher", "Orvel").splitlines()
        return [] if lines == ["none"] else [line.split(" program ", 1)[1].lower() for line in lines]

    def window(self):
        """(left, top, right, bottom, iconic) of the launcher window, or None."""
        facts = self.probe("window", "OrvelLauncher", "Orvel").split()
        return None if facts == ["none"] else tuple(int(w) for w in facts[1:5]) + (facts[6] == "1",)

    def launchers(self):
        """(case, iconic, in front) of each launcher window, sorted; its case from the folder of its program."""
        lines = self.probe("window", "OrvelLauncher", "Orvel").splitlines()
        return [] if lines == ["none"] else sorted((line.split(" program ")[1].split("\\")[-2].split()[0].lower(),
                                                    line.split()[6] == "1", line.split()[8] == "1") for line in lines)

    def boxes(self):
        return [line for line in self.probe("boxes").splitlines() if line.startswith("box|")]

    def launch(self, exe=None):
        """Starts a launcher from a working folder other than its own, which neither it nor the game may rely on.
        The probe starts it and reports its Windows exit code: Wine may kill a program's Unix process that is
        slow to leave after its last thread ended, which Wine's own status would show as SIGKILL."""
        exe = exe or os.path.join(self.client, "OrvelLauncher.exe")
        # A file, not a pipe: Wine hands the starter's Unix output on to the launcher and its children.
        report = tempfile.TemporaryFile("w+", dir=WORK)
        proc = subprocess.Popen([ARGS.wine_run, ARGS.probe, "run", exe], cwd=WORK, env=self.env(),
                                stdin=subprocess.DEVNULL, stdout=report, stderr=subprocess.DEVNULL)
        proc.report = report
        self.procs.append(proc)
        return proc

    def startLauncher(self):
        self.proc = self.launch()
        return self.waitUntil(lambda: self.proc.poll() is None and self.window(), "the window", 90)

    def stopLauncher(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()  # the starter, then the launcher's own process only: other programs share the prefix
                proc.wait(30)
                started = re.search(r"^started (\d+)$", self.report(proc), re.M)
                if started:
                    self.probe("end", started.group(1))
        if self.procs:
            self.probe("close", "OrvelLauncher", "Orvel")  # the launchers that a launcher started
            self.waitUntil(lambda: self.window() is None, "the window to go")
        for proc in self.procs:
            proc.report.close()
        self.procs = []
        for case in self.cases:
            for hold in ("run", "repair"):
                self.release(hold, case)  # frees the server's threads

    def report(self, proc):
        """What the starter of a launcher printed."""
        proc.report.seek(0)
        return proc.report.read()

    def exitCode(self, what, proc=None):
        proc = proc or self.proc
        try:
            status = proc.wait(30)
        except subprocess.TimeoutExpired:
            self.fail("the launcher did not exit after " + what)
        ended = re.search(r"^exit (\d+)$", self.report(proc), re.M)
        self.assertTrue(ended, "the launcher's starter ended with status %d and no exit code after %s" % (status, what))
        return int(ended.group(1))

    def waitUntil(self, check, what, timeout=30):
        deadline = time.time() + timeout
        while True:
            value = check()
            if value or time.time() > deadline:
                self.assertTrue(value, "timed out waiting for " + what)
                return value
            time.sleep(0.2)

    def shot(self, check, what, timeout=30):
        """A screenshot for which check holds, waiting for it."""
        def matching():
            shot = Shot(self.origin)
            return check(shot) and shot
        return self.waitUntil(matching, what, timeout)

    def statusShot(self, text):
        """Waits for the status line to show text: its words where the launcher's font puts them."""
        expected = [words(line) for line in self.probe("ink", text, *OTHER_TEXTS).splitlines()]
        for other, columns in zip(OTHER_TEXTS, expected[1:]):
            self.assertFalse(sameWords(columns, expected[0]), "%r cannot be told from %r" % (text, other))
        return self.shot(lambda s: sameWords(words(s.ink(STATUS, STATUS_BLANK_ROW)), expected[0]),
                         "the status line to show %r (words at %s)" % (text, expected[0]))

    def assertGameStartedOnce(self):
        starts = self.waitUntil(lambda: self.lines(os.path.join(self.client, "game-started.txt")), "main.exe")
        self.assertEqual(len(starts), 1, starts)
        # The client folder's main.exe ran in the client folder, though the launcher was started elsewhere.
        started = dict(field.split("=", 1) for field in starts[0].split("|", 3))
        client = "z:" + self.client.replace("/", "\\").lower()
        self.assertEqual(started["cwd"].lower().rstrip("\\"), client)
        self.assertEqual(started["exe"].lower(), client + "\\main.exe")
        self.assertEqual(started["cmdline"].strip().strip('"').lower(), client + "\\main.exe")

    # --- the pointer and the keyboard --------------------------------------------

    def moveTo(self, point):
        run("xdotool", "mousemove", self.origin[0] + point[0], self.origin[1] + point[1])

    def click(self, point):
        self.moveTo(point)
        run("xdotool", "click", 1)

    def park(self):
        run("xdotool", "mousemove", *PARKED)

    def key(self, name):
        # Without a window manager the keyboard goes to the window under the pointer.
        self.moveTo(PICTURE)
        run("xdotool", "key", name)

    def webLit(self, shot):
        ink = [shot.at(x, y) for x in range(WEB_TEXT[0], WEB_TEXT[1]) for y in range(WEB_TEXT[2], WEB_TEXT[3])
               if max(shot.at(x, y)) > 100]
        return len(ink) > 20 and warm(mean(ink))

    # --- the tests ----------------------------------------------------------------

    def test_run_hover_press_web_link_repair_drag_and_enter(self):
        self.makeClient("full", os.urandom(3000), "https://orvel.test/inicio")
        self.hold("data.bin", "run")
        self.assertEqual(self.startLauncher(), CENTRED + (False,), "not 780 x 440 centred, or minimised")
        self.assertEqual(len(run("xdotool", "search", "--name", "^Orvel$").split()), 1, "one X window titled Orvel")

        # The run waits for its only file: its status line, JUGAR disabled, an empty track.
        held = self.statusShot(DOWNLOADING)
        self.assertFalse(held.playEnabled() or held.filled())
        # JUGAR, Enter and repair do nothing now; the web link's hover look shows they were all taken.
        self.click(PLAY)
        self.key("Return")
        self.click(REPAIR)
        self.moveTo(WEB)
        self.shot(self.webLit, "the web link's hover look")
        self.park()
        self.release("run")
        done = self.shot(lambda s: s.playEnabled() and s.filled(), "the run's end: JUGAR enabled, the track full")
        self.assertEqual([self.requests(n) for n in ("manifest.txt", "news.txt", "data.bin")], [1, 1, 1])

        # JUGAR lights up under the pointer and sinks a row when pressed; released elsewhere, nothing starts.
        rest = sum(done.play(PLAY_TOP))
        self.moveTo(PLAY)
        hovered = sum(self.shot(lambda s: sum(s.play(PLAY_TOP)) > rest + 20, "JUGAR's hover look").play(PLAY_TOP))
        run("xdotool", "mousedown", 1)
        self.shot(lambda s: sum(s.play(PLAY_TOP)) < hovered / 2, "JUGAR's pressed look")
        self.moveTo(REPAIR)
        run("xdotool", "mouseup", 1)

        # The web link hands WebUrl to the desktop's opener.
        self.click(WEB)
        opened = os.path.join(self.bin, "opened.txt")
        self.waitUntil(lambda: self.lines(opened), "the web link to open its URL")
        self.assertTrue(Shot(self.origin).playEnabled() and self.requests("manifest.txt") == 1,
                        "the release over the repair link started a run")

        # Repair is one more run; the news already shown is not fetched again.
        self.hold("manifest.txt", "repair")
        self.click(REPAIR)
        self.park()
        self.shot(lambda s: not s.playEnabled(), "the repair run")
        self.release("repair")
        self.shot(Shot.playEnabled, "the repair run's end")
        self.assertEqual([self.requests(n) for n in ("manifest.txt", "news.txt", "data.bin")], [2, 1, 1])

        # A drag from the band outside the controls moves the window.
        self.moveTo(BAND)
        run("xdotool", "mousedown", 1, "mousemove_relative", "--", 60, -30, "mousemove_relative", "--", 60, -30)
        run("xdotool", "mouseup", 1)
        self.assertEqual(self.window(), (690, 260, 1470, 700, False), "the window did not follow the drag")
        self.origin = (690, 260)

        self.key("Return")
        self.assertEqual(self.exitCode("Enter"), 0)
        self.assertGameStartedOnce()
        self.assertEqual(self.lines(opened), ["https://orvel.test/inicio"])

    def test_failed_run_plain_http_web_url_missing_game_and_click(self):
        self.makeClient("failed", b"never served", "http://orvel.test/inicio", game=False)
        self.fault("data.bin", {"status": 404})
        self.startLauncher()
        shot = self.statusShot(FAILED)
        self.assertTrue(shot.playEnabled())
        # A plain-http WebUrl: no link drawn, and a click on its place opens nothing.
        self.assertEqual(shot.ink(WEB_TEXT, WEB_BLANK_ROW), "")
        self.click(WEB)

        # Without main.exe JUGAR explains itself in a box; the window stays as it was.
        facts = self.window()
        self.click(PLAY)
        self.assertEqual(self.waitUntil(self.boxes, "the error box"), ["box|Orvel|" + NO_GAME])
        self.key("Return")
        self.waitUntil(lambda: not self.boxes(), "the box to close")
        self.assertIsNone(self.proc.poll(), "the launcher ended with the box")
        self.assertEqual(self.window(), facts)
        self.assertEqual(self.lines(os.path.join(self.bin, "opened.txt")), [], "a plain-http WebUrl was opened")

        shutil.copy(ARGS.game, os.path.join(self.client, "main.exe"))
        self.click(PLAY)
        self.assertEqual(self.exitCode("a click on JUGAR"), 0)
        self.assertGameStartedOnce()

    def test_one_launcher_per_client_folder(self):
        self.makeClient("other", os.urandom(100), "")
        other = os.path.join(self.client, "OrvelLauncher.exe")
        self.makeClient("once", os.urandom(100), "")
        self.hold("data.bin", "run")
        exe = os.path.join(self.client, "OrvelLauncher.exe")

        # Two at once, one through a link to the folder and in capitals: one window, and the other ends with 0.
        os.symlink(self.client, os.path.join(WORK, "once link"))
        capitals = "Z:" + os.path.join(WORK, "once link", "OrvelLauncher.exe").replace("/", "\\").upper()
        both = [self.launch(), self.launch(capitals)]
        ended = self.waitUntil(lambda: [p for p in both if p.poll() is not None], "one of two launchers to end", 60)
        self.assertEqual([self.exitCode("a start beside another", p) for p in ended], [0])
        self.proc = next(p for p in both if p not in ended)
        self.assertEqual(self.waitUntil(self.launchers, "the window"), [("once", False, True)])

        # One more in the folder, by its 8.3 name, restores the minimised window and brings it to the front.
        self.shot(lambda s: not s.playEnabled(), "the run")
        self.click(MINIMIZE)
        self.waitUntil(lambda: self.launchers()[0][1], "the window to be minimised")
        short = self.probe("short", "Z:" + exe.replace("/", "\\")).strip()
        self.assertNotIn("once client", short.lower())
        self.assertEqual(self.exitCode("a start in a held folder", self.launch(short)), 0)
        self.waitUntil(lambda: self.launchers() == [("once", False, True)], "the window restored and in front")

        # A launcher in another folder runs, in front; one more in the first folder brings that one's window back.
        self.launch(other)
        self.waitUntil(lambda: self.requests("data.bin", "other") == 1, "the other folder's run")
        self.assertEqual(self.launchers(), [("once", False, False), ("other", False, True)])
        self.assertEqual(self.exitCode("a start in a held folder", self.launch()), 0)
        self.waitUntil(lambda: self.launchers() == [("once", False, True), ("other", False, False)],
                       "the first window in front")
        self.assertEqual([self.requests("manifest.txt", case) for case in ("once", "other")], [1, 1])

    def test_slow_download_shows_speed_and_time_left_within_the_line(self):
        self.makeClient("slow", os.urandom(6 << 20), "")
        self.fault("data.bin", {"slow": 2048})
        # The widest download line the launcher makes for its font, and the one for typical counts, end
        # left of the percentage; the typical one keeps the time left.
        widest, typical = self.probe("status-lines").splitlines()[:2]
        for text, columns in zip((widest, typical), self.probe("ink", widest, typical).splitlines()):
            self.assertLessEqual(len(columns), STATUS[1] - STATUS[0], text)
        self.assertTrue(typical.endswith(", quedan 3 min)"), typical)

        # At 40 KiB a second the line soon says how fast and how long: read off the screen, with
        # digits as wide as the ones it shows.
        self.startLauncher()
        shapes = ["Descargando... 0 / 1 archivos (%s / 6 MB, %s KB/s, quedan %s min)" % (done, speed, left)
                  for done in "01" for speed in ("8.8", "88.8", "888") for left in ("8", "88")]
        expected = [words(line) for line in self.probe("ink", *shapes).splitlines()]
        self.shot(lambda s: any(sameWords(words(s.ink(STATUS, STATUS_BLANK_ROW)), e, 3) for e in expected),
                  "the status line to show the speed and the time left", 90)

    def test_minimise_and_escape_during_a_run(self):
        self.makeClient("escape", os.urandom(100), "")
        self.hold("manifest.txt", "run")
        self.startLauncher()
        self.shot(lambda s: not s.playEnabled(), "the run")
        self.click(MINIMIZE)
        self.waitUntil(lambda: self.window()[4], "the window to be minimised")
        self.probe("restore", "OrvelLauncher", "Orvel")
        self.waitUntil(lambda: self.window() == CENTRED + (False,), "the window to come back")
        self.key("Escape")
        self.assertEqual(self.exitCode("Escape during a run"), 0)
        self.assertEqual(self.requests("manifest.txt"), 0, "the run had ended before Escape")
        self.assertEqual(self.lines(os.path.join(self.client, "game-started.txt")), [])

    def test_the_launcher_replaces_itself_from_its_release_and_not_again_within_ten_minutes(self):
        built, keyed = (pathlib.Path(p).read_bytes() for p in (ARGS.launcher, ARGS.keyed_launcher))
        startAndEnd = [("run-start", "check"), ("launcher-update", "-")]
        handedOver = [("launcher-started", "-"), ("run-end", "launcher-replaced"), ("run-start", "check"),
                      ("launcher-old-removed", "-"), ("run-end", "updated")]
        # Bytes appended to a build: it runs the same, with another digest. The second time the transfer
        # breaks off halfway and resumes; the third launcher holds release keys and the release is signed.
        for case, launcher, cut, key in (("self", ARGS.launcher, False, None), ("cut", ARGS.launcher, True, None),
                                         ("keyed", ARGS.keyed_launcher, False, "release-1.key")):
            data = os.urandom(1000)
            self.makeClient(case, data, "", launcher=launcher)
            new = (keyed if key else built) + os.urandom(5000)
            stored = self.nameLauncher(new)
            if cut:
                self.fault(stored, {"drop_after": len(new) // 2, "times": 1})
            if key:
                self.fault("manifest.txt.sig", {"signed_by": str(DATA / key)})
            # Started by its 8.3 name: the new build still lands under the executable's own name.
            exe = os.path.join(self.client, "OrvelLauncher.exe")
            short = self.probe("short", "Z:" + exe.replace("/", "\\")).strip()
            self.assertEqual(self.exitCode("handing over", self.launch(short)), 0)
            events = self.waitForRuns(2)
            resumed = [("retry", events[2][1]), ("file-resumed", "-")] if cut else []
            self.assertEqual(events, startAndEnd + resumed + handedOver)
            # Exactly one launcher: the folder's own executable, the new build, and the old one gone.
            self.assertEqual(self.programs(), ["z:" + exe.replace("/", "\\").lower()])
            self.assertTrue(pathlib.Path(exe).read_bytes() == new, case)
            self.assertEqual(sorted(os.listdir(self.client)), ["OrvelLauncher.cache", "OrvelLauncher.exe",
                                                               "OrvelLauncher.lock", "OrvelLauncher.log",
                                                               "OrvelLauncher.selfupdate", "data.bin", "launcher.ini",
                                                               "main.exe"])
            self.assertEqual(pathlib.Path(self.client, "data.bin").read_bytes(), data)
            ranges = [json.loads(line)["range"] for line in self.lines(os.environ["ORVEL_TEST_LOG"])
                      if json.loads(line)["path"] == "/%s/%s" % (case, stored)]
            self.assertEqual(ranges, ["", "bytes=%d-" % (len(new) // 2)] if cut else [""])
            self.stopLauncher()

        # Within ten minutes a release naming yet another build replaces nothing.
        self.nameLauncher(built + os.urandom(5000))
        self.launch()
        self.assertEqual(self.waitForRuns(3)[-3:],
                         [("run-start", "check"), ("launcher-skipped", "recent"), ("run-end", "up-to-date")])
        self.assertTrue(pathlib.Path(self.client, "OrvelLauncher.exe").read_bytes() == new)

    def test_builds_that_cannot_take_over_leave_the_running_launcher(self):
        built, keyed = (pathlib.Path(p).read_bytes() for p in (ARGS.launcher, ARGS.keyed_launcher))
        refused = [("signature-failed", "http"), ("manifest-refused", "bad-signature"), ("run-end", "bad-signature")]
        for case, launcher, new, stored, fault, story in (
                # No Windows program: it cannot start, and the running launcher is put back.
                ("notexe", ARGS.launcher, b"no Windows program\r\n" * 200, None, None,
                 [("launcher-update", "-"), ("launcher-failed", "start"), ("run-end", "updated")]),
                # The object is not what the release names.
                ("mismatch", ARGS.launcher, built + b"named", built + b"other", None,
                 [("launcher-update", "-"), ("file-failed", "digest"), ("launcher-failed", "download"),
                  ("run-end", "updated")]),
                # A launcher with release keys: an unsigned manifest, then one signed with another key.
                ("unsigned", ARGS.keyed_launcher, keyed + b"new", None, None, refused),
                ("foreign", ARGS.keyed_launcher, keyed + b"new", None, {"signed_by": str(DATA / "foreign.key")},
                 [("signature-failed", "signature")] + refused[1:])):
            self.makeClient(case, os.urandom(1000), "", launcher=launcher)
            named = self.nameLauncher(new)
            if stored:
                pathlib.Path(ROOT, case, named).write_bytes(stored)
            if fault:
                self.fault("manifest.txt.sig", fault)
            self.startLauncher()
            self.assertEqual(self.waitForRuns(1), [("run-start", "check")] + story)
            exe = os.path.join(self.client, "OrvelLauncher.exe")
            self.assertEqual(self.programs(), ["z:" + exe.replace("/", "\\").lower()])
            self.assertTrue(pathlib.Path(exe).read_bytes() == pathlib.Path(launcher).read_bytes(), case)
            tried = story[0][0] == "launcher-update"
            self.assertEqual([name for name in os.listdir(self.client) if name.endswith((".old", ".part"))], [])
            self.assertEqual(os.path.exists(os.path.join(self.client, "OrvelLauncher.selfupdate")), tried, case)
            self.assertEqual(self.requests(named), int(tried), case)
            self.stopLauncher()

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--keyed-launcher", "--game", "--probe", "--wine-run", "--prefix"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY") and os.environ.get("ORVEL_TEST_DISPLAY_FILE"):
        os.environ["DISPLAY"] = pathlib.Path(os.environ["ORVEL_TEST_DISPLAY_FILE"]).read_text().strip()
    if not os.environ.get("DISPLAY") or not os.environ.get("ORVEL_TEST_ROOT"):
        sys.exit("test_window.py: needs an X screen and tests/support/server.py around it")
    if run("xdotool", "getdisplaygeometry").split() != ["1920", "1080"]:
        sys.exit("test_window.py: needs a 1920x1080 screen")
    WORK, ROOT = os.environ["ORVEL_TEST_WORK"], os.environ["ORVEL_TEST_ROOT"]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
