#!/usr/bin/python3
"""The launcher window driven as a player would: real launcher starts under
Wine on the test run's X screen, against the local update server.

    withservers.py -- test_window.py --launcher EXE --game EXE --probe EXE \
        --wine-run SCRIPT --prefix DIR --background BMP [unittest arguments]

Needs DISPLAY (a 1920x1080 screen to itself: the pointer is shared), xdotool
and ImageMagick. Screenshots are kept in the work folder under shots/.
"""

import argparse
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

ARGS = None  # the parsed command line

WINDOW_WIDTH, WINDOW_HEIGHT = 780, 440
CENTRED_ORIGIN = (570, 320)  # on 1920x1080
PARKED = (5, 5)  # a screen point away from every position the window takes here
NEUTRAL = (390, 120)  # a client point over the picture, away from every control and the news

GOLD = 0xEAC784
SLATE = 0xAEBBC5
BAND = 0x080C11
SEPARATOR = 0x463E2C
TRACK = 0x2B3741
DIM = 0x5A646E
BRONZE = 0x967034
PLAY_BOTTOM = 0xC49C58
PLAY_TOP_HOVER = 0xFAE2AA
PLAY_BOTTOM_HOVER = 0xDEB468
PLAY_FACE_DISABLED = 0x29333D
CLOSE_RED = 0xAA2828

# Client rectangles (right and bottom exclusive).
PLAY = (590, 366, 740, 418)
WEB = (48, 402, 128, 422)
REPAIR = (146, 402, 216, 422)
REPAIR_TEXT = (146, 402, 226, 422)
MINIMIZE = (700, 10, 732, 36)
CLOSE = (736, 10, 768, 36)
STATUS = (48, 356, 548, 376)
PERCENT = (500, 366, 548, 380)
TRACK_RECT = (48, 384, 548, 389)
VERSION = (300, 406, 548, 420)
NEWS_HEADING = (48, 176, 348, 194)

BOX_TEXT = "No se encontro main.exe. El launcher tiene que estar en la carpeta del cliente."


def rgb(colour):
    return ((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF)


def blend(colour, alpha, under):
    """Colour at alpha/255 over the pixel under."""
    return tuple((c * alpha + u * (255 - alpha) + 127) // 255 for c, u in zip(rgb(colour), under))


def mix(a, b, t):
    """The point t (0..1) of the way from colour a to colour b."""
    return tuple(round(x + (y - x) * t) for x, y in zip(rgb(a), rgb(b)))


def distance(p, q):
    return max(abs(x - y) for x, y in zip(p, q))


def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


def inside(rect, x, y):
    return rect[0] <= x < rect[2] and rect[1] <= y < rect[3]


def points(rect):
    for y in range(rect[1], rect[3]):
        for x in range(rect[0], rect[2]):
            yield x, y


class Background:
    """The window's picture, a 24-bit bottom-up BMP."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        offset = int.from_bytes(data[10:14], "little")
        self.width = int.from_bytes(data[18:22], "little", signed=True)
        self.height = int.from_bytes(data[22:26], "little", signed=True)
        bits = int.from_bytes(data[28:30], "little")
        if (self.width, self.height, bits) != (WINDOW_WIDTH, WINDOW_HEIGHT, 24):
            raise ValueError("unexpected background picture %dx%d, %d bits" % (self.width, self.height, bits))
        self.stride = (self.width * 3 + 3) & ~3
        self.pixels = data[offset:]

    def at(self, x, y):
        i = (self.height - 1 - y) * self.stride + x * 3
        b, g, r = self.pixels[i:i + 3]
        return (r, g, b)

    def band(self, x, y):
        """The band colour blended over the picture."""
        return blend(BAND, 150, self.at(x, y))


class Shot:
    """The window's client area as shown on the screen at one moment."""

    def __init__(self, path, origin):
        self.path = path
        self.origin = origin
        raw = subprocess.run(
            ["/usr/bin/convert", path, "-crop",
             "%dx%d+%d+%d" % (WINDOW_WIDTH, WINDOW_HEIGHT, origin[0], origin[1]),
             "+repage", "-depth", "8", "rgb:-"],
            check=True, stdout=subprocess.PIPE, timeout=60).stdout
        if len(raw) != WINDOW_WIDTH * WINDOW_HEIGHT * 3:
            raise AssertionError("%s: window area at %s is not on the screen" % (path, origin))
        self.raw = raw

    def at(self, x, y):
        i = (y * WINDOW_WIDTH + x) * 3
        return tuple(self.raw[i:i + 3])

    def differing(self, rect, expected, tolerance):
        """Points of rect whose pixel is further than tolerance from expected(x, y)."""
        return [(x, y) for x, y in points(rect) if distance(self.at(x, y), expected(x, y)) > tolerance]


def readLog():
    entries = []
    with open(os.environ["ORVEL_TEST_LOG"], encoding="utf-8") as f:
        for line in f:
            if line.strip():
                entries.append(json.loads(line))
    return entries


def setFault(path, fault):
    """Sets (or with None clears) the server's fault for one path."""
    faultsPath = os.path.join(os.environ["ORVEL_TEST_ROOT"], ".faults.json")
    try:
        with open(faultsPath) as f:
            faults = json.load(f)
    except FileNotFoundError:
        faults = {}
    if fault is None:
        faults.pop(path, None)
    else:
        faults[path] = fault
    tmp = faultsPath + ".tmp"
    with open(tmp, "w") as f:
        json.dump(faults, f)
    os.replace(tmp, faultsPath)


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=30)


def windowsPath(path):
    return "Z:" + path.replace("/", "\\")


class LauncherCase(unittest.TestCase):
    """One client folder and one launcher start per test."""

    shotCount = 0

    @classmethod
    def setUpClass(cls):
        size = subprocess.run(["xdotool", "getdisplaygeometry"], stdout=subprocess.PIPE, check=True,
                              timeout=30).stdout.split()
        if size != [b"1920", b"1080"]:
            raise AssertionError("the window tests need a 1920x1080 screen; DISPLAY has %s"
                                 % b"x".join(size).decode())
        cls.background = Background(ARGS.background)
        cls.work = os.environ["ORVEL_TEST_WORK"]
        cls.shotDir = os.path.join(cls.work, "shots")
        os.makedirs(cls.shotDir, exist_ok=True)

    def setUp(self):
        self.proc = None
        self.case = "none"
        self.stubDir = None
        self.origin = CENTRED_ORIGIN
        self.addCleanup(self.stopLauncher)
        xdotool("mousemove", *PARKED)

    # --- client folder and server ---------------------------------------

    def makeClient(self, name, webUrl="https://orvel.test/inicio", withGame=True, news=None, manifest=True,
                   folderName=None):
        """Publishes a release under the server root and makes a client folder for it."""
        self.case = name
        self.release = os.path.join(os.environ["ORVEL_TEST_ROOT"], name)
        os.makedirs(self.release)
        files = {"data.bin": os.urandom(3000), "maps\\world.map": b"orvel map " * 400}
        lines = []
        for relative, body in files.items():
            full = os.path.join(self.release, *relative.split("\\"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(body)
            lines.append("%s %d %s\n" % (hashlib.sha256(body).hexdigest(), len(body), relative))
        if manifest:
            with open(os.path.join(self.release, "manifest.txt"), "w", newline="") as f:
                f.writelines(lines)
        if news is not None:
            with open(os.path.join(self.release, "news.txt"), "w", newline="") as f:
                f.write("".join("%s|%s\n" % item for item in news))

        self.client = os.path.join(self.work, folderName or name + "-client")
        os.makedirs(self.client)
        shutil.copy(ARGS.launcher, os.path.join(self.client, "OrvelLauncher.exe"))
        if withGame:
            shutil.copy(ARGS.game, os.path.join(self.client, "main.exe"))
        with open(os.path.join(self.client, "launcher.ini"), "w", newline="") as f:
            f.write("[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s/%s/\r\nWebUrl=%s\r\n"
                    % (os.environ["ORVEL_TEST_HTTP_PORT"], name, webUrl))

        # Stands in for the desktop's URL opener, which Wine's browser hands links to.
        self.stubDir = os.path.join(self.work, name + "-bin")
        os.makedirs(self.stubDir)
        self.openedPath = os.path.join(self.work, name + "-opened-urls.txt")
        stub = os.path.join(self.stubDir, "xdg-open")
        with open(stub, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' % self.openedPath)
        os.chmod(stub, 0o755)

    def requests(self, name):
        """How many finished requests the server logged for one file of this case."""
        path = "/%s/%s" % (self.case, name)
        return sum(1 for entry in readLog() if entry["path"] == path)

    def gameStarts(self):
        try:
            with open(os.path.join(self.client, "game-started.txt"), encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def openedUrls(self):
        try:
            with open(self.openedPath) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    # --- the launcher process and its window -----------------------------

    def wineEnv(self):
        env = dict(os.environ)
        env["WINEPREFIX"] = ARGS.prefix
        if self.stubDir:
            env["PATH"] = self.stubDir + os.pathsep + env.get("PATH", "")
        return env

    def probe(self, *args):
        # Generous: the first Wine program of a test run may have to create the prefix.
        out = subprocess.run([ARGS.wine_run, ARGS.probe] + list(args), env=self.wineEnv(), cwd=self.work,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300, check=True)
        return out.stdout.decode("utf-8", "replace").replace("\r", "").strip()

    def windowFacts(self):
        """None without the window, else {"rect": (l, t, r, b), "iconic": bool, "visible": bool}."""
        words = self.probe("window", "OrvelLauncher", "Orvel").split()
        if words == ["none"]:
            return None
        if len(words) != 9 or words[0] != "rect":
            raise AssertionError("unexpected probe answer %r" % words)
        return {"rect": tuple(int(w) for w in words[1:5]), "iconic": words[6] == "1", "visible": words[8] == "1"}

    def messageBoxes(self):
        lines = self.probe("boxes").splitlines()
        return [line.split("|")[1:] for line in lines if line.startswith("box|")]

    def startLauncher(self):
        self.assertIsNone(self.windowFacts(), "a launcher window from an earlier start is still there")
        self.launcherLog = open(os.path.join(self.work, self.case + "-launcher.log"), "wb")
        self.proc = subprocess.Popen([ARGS.wine_run, os.path.join(self.client, "OrvelLauncher.exe")],
                                     cwd=self.client, env=self.wineEnv(), stdin=subprocess.DEVNULL,
                                     stdout=self.launcherLog, stderr=subprocess.STDOUT)
        def shown():
            if self.proc.poll() is not None:
                self.fail("the launcher exited with %d before its window appeared" % self.proc.returncode)
            return self.windowFacts()
        facts = self.waitUntil(shown, 90, "the launcher window to appear")
        self.origin = facts["rect"][:2]
        return facts

    def stopLauncher(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            # The launcher's own process only: other Wine programs may share the prefix.
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait(30)
        self.launcherLog.close()
        deadline = time.time() + 30
        while self.windowFacts() is not None and time.time() < deadline:
            time.sleep(0.2)

    def waitForExit(self, what):
        try:
            return self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.fail("the launcher did not exit after %s" % what)

    def assertStillRunning(self, what):
        self.assertIsNone(self.proc.poll(), "the launcher exited after %s" % what)

    # --- waiting and looking ------------------------------------------------

    def waitUntil(self, check, timeout, what):
        deadline = time.time() + timeout
        while True:
            value = check()
            if value:
                return value
            if time.time() > deadline:
                self.fail("timed out waiting for %s" % what)
            time.sleep(0.2)

    def shot(self):
        LauncherCase.shotCount += 1
        path = os.path.join(self.shotDir, "%03d-%s.png" % (LauncherCase.shotCount, self.case))
        subprocess.run(["/usr/bin/import", "-window", "root", path], check=True, timeout=60)
        return Shot(path, self.origin)

    def waitForShot(self, check, what, timeout=30):
        """Screenshots until check(shot) holds; returns that shot."""
        deadline = time.time() + timeout
        while True:
            shot = self.shot()
            if check(shot):
                return shot
            if time.time() > deadline:
                self.fail("timed out waiting for %s (last screenshot %s)" % (what, shot.path))
            time.sleep(0.1)

    def near(self, shot, x, y, colour, tolerance):
        return distance(shot.at(x, y), colour if isinstance(colour, tuple) else rgb(colour)) <= tolerance

    def assertPixel(self, shot, x, y, colour, tolerance, what):
        expected = colour if isinstance(colour, tuple) else rgb(colour)
        actual = shot.at(x, y)
        self.assertLessEqual(distance(actual, expected), tolerance,
                             "%s: pixel (%d, %d) is %s, expected %s +-%d (%s)"
                             % (what, x, y, actual, expected, tolerance, shot.path))

    def assertArea(self, shot, rect, expected, tolerance, what):
        bad = shot.differing(rect, expected, tolerance)
        if bad:
            x, y = bad[0]
            self.fail("%s: %d pixel(s) differ, first (%d, %d) is %s, expected %s (%s)"
                      % (what, len(bad), x, y, shot.at(x, y), expected(x, y), shot.path))

    def assertAreaIsBand(self, shot, rect, what):
        self.assertArea(shot, rect, self.background.band, 2, what + " shows only the band over the picture")

    def textPixels(self, shot, rect, under=None):
        """The pixels of rect that stand out from what is under them (the band): drawn text."""
        under = under or self.background.band
        return [shot.at(x, y) for x, y in points(rect) if distance(shot.at(x, y), under(x, y)) > 40]

    def isGoldText(self, pixels):
        warm = [p for p in pixels if p[0] > p[2] + 50]
        return len(pixels) >= 20 and len(warm) * 2 > len(pixels)

    def isSlateText(self, pixels):
        cool = [p for p in pixels if p[2] >= p[0]]
        return len(pixels) >= 20 and len(cool) * 2 > len(pixels)

    def assertRepairDimmed(self, shot, when):
        text = self.textPixels(shot, REPAIR_TEXT)
        self.assertGreater(len(text), 20, "no repair link text %s (%s)" % (when, shot.path))
        bright = [p for p in text if max(p) > max(rgb(DIM)) + 8]
        self.assertFalse(bright, "repair link text %s is not dim: %s (%s)" % (when, bright[:3], shot.path))

    def playIsEnabledAtRest(self, shot):
        return self.near(shot, 600, 367, GOLD, 6) and self.near(shot, 600, 417, PLAY_BOTTOM, 6)

    def playIsDisabled(self, shot):
        return self.near(shot, 600, 367, PLAY_FACE_DISABLED, 2) and self.near(shot, 600, 417, PLAY_FACE_DISABLED, 2)

    # --- the pointer and keyboard -------------------------------------------

    def screen(self, x, y):
        return (self.origin[0] + x, self.origin[1] + y)

    def moveTo(self, x, y):
        xdotool("mousemove", *self.screen(x, y))
        time.sleep(0.15)

    def click(self, x, y):
        self.moveTo(x, y)
        xdotool("mousedown", 1)
        time.sleep(0.1)
        xdotool("mouseup", 1)
        time.sleep(0.15)

    def drag(self, x, y, dx, dy):
        """Presses at client (x, y), moves by (dx, dy) in steps, releases."""
        sx, sy = self.screen(x, y)
        xdotool("mousemove", sx, sy)
        time.sleep(0.15)
        xdotool("mousedown", 1)
        time.sleep(0.2)
        for step in range(1, 5):
            xdotool("mousemove", sx + dx * step // 4, sy + dy * step // 4)
            time.sleep(0.1)
        time.sleep(0.2)
        xdotool("mouseup", 1)
        time.sleep(0.3)

    def park(self):
        xdotool("mousemove", *PARKED)
        time.sleep(0.15)

    def key(self, name):
        # Without a window manager X gives the keyboard to the window under the pointer.
        self.moveTo(*NEUTRAL)
        xdotool("key", name)
        time.sleep(0.2)

    def assertGameStartedOnce(self):
        starts = self.waitUntil(self.gameStarts, 30, "main.exe to record its start")
        time.sleep(0.5)
        starts = self.gameStarts()
        self.assertEqual(len(starts), 1, "main.exe started %d times: %s" % (len(starts), starts))
        cwd, _, commandLine = starts[0].partition("|cmdline=")
        self.assertTrue(cwd.startswith("cwd="), starts[0])
        self.assertEqual(cwd[len("cwd="):].rstrip("\\").lower(), windowsPath(self.client).lower(),
                         "main.exe's working folder is not the client folder")
        program = windowsPath(os.path.join(self.client, "main.exe")).lower()
        self.assertIn(commandLine.strip().lower(), (program, '"%s"' % program),
                      "main.exe got arguments or another program path")

    def assertNothingStarted(self, what):
        # The game would record its start within a second or two.
        time.sleep(2.5)
        self.assertEqual(self.gameStarts(), [], "main.exe started after %s" % what)
        self.assertStillRunning(what)


class WindowTest(LauncherCase):

    def test_complete_run_painting_hover_press_web_link_and_close(self):
        news = [("General", "Bienvenidos al servidor"), ("Evento", "Doble experiencia este fin de semana")]
        self.makeClient("full", news=news)
        facts = self.startLauncher()
        self.assertEqual(facts["rect"], (570, 320, 1350, 760), "not 780 x 440 centred on 1920 x 1080")
        self.assertTrue(facts["visible"])
        self.assertFalse(facts["iconic"])
        names = subprocess.run(["xdotool", "search", "--name", "^Orvel$"], stdout=subprocess.PIPE,
                               check=True, timeout=30).stdout.split()
        self.assertEqual(len(names), 1, "one X window titled exactly Orvel")

        shot = self.waitForShot(self.playIsEnabledAtRest, "the run to end (JUGAR enabled)")
        self.assertEqual(self.requests("manifest.txt"), 1)
        self.assertEqual(self.requests("news.txt"), 1)
        self.assertEqual(self.requests("data.bin"), 1)
        self.assertEqual(self.requests("maps/world.map"), 1)
        bg = self.background

        # The picture, untouched wherever nothing is drawn over it.
        for x in range(0, WINDOW_WIDTH, 7):
            for y in range(0, 346, 7):
                if inside((690, 0, 780, 45), x, y) or inside((40, 170, 420, 272), x, y):
                    continue
                self.assertPixel(shot, x, y, bg.at(x, y), 1, "picture")
        # Band, separator row and every plain band point.
        for x in range(0, WINDOW_WIDTH):
            self.assertPixel(shot, x, 346, SEPARATOR, 1, "separator row")
        texts = (STATUS, TRACK_RECT, (48, 402, 226, 422), VERSION, PLAY)
        for x in range(0, WINDOW_WIDTH, 5):
            for y in range(347, 440, 3):
                if not any(inside(r, x, y) for r in texts):
                    self.assertPixel(shot, x, y, bg.band(x, y), 2, "band")
        for x in (0, 589, 740, 779):
            for y in (366, 392, 417):
                self.assertPixel(shot, x, y, bg.band(x, y), 2, "band beside JUGAR")
        for x in range(590, 740, 10):
            self.assertPixel(shot, x, 418, bg.band(x, 418), 2, "band under JUGAR")
            self.assertPixel(shot, x, 365, bg.band(x, 365), 2, "band over JUGAR")

        # A complete run: the fill spans the whole track, bronze to gold.
        for y in range(384, 389):
            self.assertPixel(shot, 48, y, BRONZE, 4, "fill's left end")
            self.assertPixel(shot, 547, y, GOLD, 4, "fill's right end")
            self.assertPixel(shot, 298, y, mix(BRONZE, GOLD, 0.5), 4, "fill's middle")
            for x in range(48, 548, 25):
                self.assertPixel(shot, x, y, mix(BRONZE, GOLD, (x - 48) / 500), 4, "fill")
        for x in (47, 548):
            self.assertPixel(shot, x, 386, bg.band(x, 386), 2, "band beside the track")
        self.assertPixel(shot, 300, 383, bg.band(300, 383), 2, "band over the track")
        self.assertPixel(shot, 300, 389, bg.band(300, 389), 2, "band under the track")

        # JUGAR at rest, enabled: gold to darker gold, dark label in the middle.
        for x in (590, 640, 739):
            self.assertPixel(shot, x, 366, GOLD, 4, "JUGAR's top row")
            self.assertPixel(shot, x, 417, PLAY_BOTTOM, 4, "JUGAR's bottom row")
        label = [p for p in (shot.at(x, y) for x, y in points((600, 376, 730, 408))) if max(p) < 0x60]
        self.assertGreater(len(label), 50, "no dark JUGAR label (%s)" % shot.path)

        # News: the heading and one gold accent bar per item, none for the missing rows.
        self.assertTrue(self.isGoldText(self.textPixels(shot, NEWS_HEADING, bg.at)), "no gold NOVEDADES heading")
        for row in range(4):
            b = 235 + 34 * row
            for y in range(b - 29, b - 5):
                for x in (48, 49):
                    if row < len(news):
                        self.assertPixel(shot, x, y, GOLD, 1, "news row %d accent bar" % row)
                    else:
                        self.assertPixel(shot, x, y, bg.at(x, y), 1, "no accent bar for news row %d" % row)
                self.assertPixel(shot, 50, y, bg.at(50, y), 1, "accent bar is two pixels wide")
                self.assertPixel(shot, 47, y, bg.at(47, y), 1, "accent bar starts at x 48")
            for x in (48, 49):
                self.assertPixel(shot, x, b - 30, bg.at(x, b - 30), 1, "above news row %d accent bar" % row)
                self.assertPixel(shot, x, b - 5, bg.at(x, b - 5), 1, "below news row %d accent bar" % row)

        # After the run: no percentage, the version right-aligned, slate links, slate glyphs.
        self.assertAreaIsBand(shot, PERCENT, "percentage area after the run")
        version = [(x, y) for x, y in points(VERSION) if distance(shot.at(x, y), bg.band(x, y)) > 20]
        self.assertTrue(version, "no version text")
        self.assertGreaterEqual(max(x for x, _ in version), 530, "version text is not right-aligned")
        self.assertGreaterEqual(min(x for x, _ in version), 500, "version text is wider than v1.1")
        self.assertTrue(self.isSlateText(self.textPixels(shot, WEB)), "no slate web link text")
        self.assertTrue(self.isSlateText(self.textPixels(shot, REPAIR_TEXT)), "no slate repair link text")
        for x in range(711, 722):
            self.assertPixel(shot, x, 23, SLATE, 2, "minimise glyph at rest")
        self.assertPixel(shot, 722, 23, bg.at(722, 23), 1, "minimise glyph ends at x 721")
        self.assertPixel(shot, 705, 12, bg.at(705, 12), 1, "no minimise tint at rest")
        for x, y in ((747, 18), (752, 23), (757, 28), (757, 18), (747, 28)):
            self.assertPixel(shot, x, y, SLATE, 2, "close glyph at rest")
        self.assertPixel(shot, 740, 12, bg.at(740, 12), 1, "no close tint at rest")

        # Hover: the play button, the glyphs and the links light up.
        self.moveTo(*centre(PLAY))
        shot = self.waitForShot(lambda s: self.near(s, 600, 366, PLAY_TOP_HOVER, 4), "JUGAR's hover look")
        self.assertPixel(shot, 700, 366, PLAY_TOP_HOVER, 4, "JUGAR hovered, top row")
        self.assertPixel(shot, 700, 417, PLAY_BOTTOM_HOVER, 4, "JUGAR hovered, bottom row")

        # Pressed: the face one row lower; moving off and releasing elsewhere starts nothing.
        xdotool("mousedown", 1)
        shot = self.waitForShot(lambda s: self.near(s, 600, 367, PLAY_TOP_HOVER, 4)
                                and self.near(s, 600, 366, bg.band(600, 366), 2), "JUGAR's pressed look")
        self.assertPixel(shot, 700, 366, bg.band(700, 366), 2, "pressed JUGAR leaves its top row to the band")
        # Released over another enabled control: neither of the two may act.
        self.moveTo(400, 430)
        self.moveTo(*centre(REPAIR))
        xdotool("mouseup", 1)
        self.assertNothingStarted("pressing JUGAR and releasing elsewhere")
        self.park()
        self.waitForShot(self.playIsEnabledAtRest, "JUGAR's look at rest after the release")
        self.assertEqual(self.requests("manifest.txt"), 1, "releasing over the repair link started a run")
        self.assertEqual(self.windowFacts()["rect"], (570, 320, 1350, 760), "the press moved the window")

        self.moveTo(*centre(MINIMIZE))
        shot = self.waitForShot(lambda s: self.near(s, 715, 23, 0xFFFFFF, 2), "the minimise glyph's hover look")
        for x, y in ((701, 11), (731, 35), (705, 30)):
            self.assertPixel(shot, x, y, blend(0xFFFFFF, 40, bg.at(x, y)), 2, "minimise hover tint")
        self.assertPixel(shot, 699, 11, bg.at(699, 11), 1, "minimise hover tint ends at x 700")
        self.assertPixel(shot, 740, 12, bg.at(740, 12), 1, "no close tint while the minimise glyph is hovered")

        self.moveTo(*centre(CLOSE))
        shot = self.waitForShot(lambda s: self.near(s, 752, 23, 0xFFFFFF, 2), "the close glyph's hover look")
        for x, y in ((737, 11), (767, 35), (740, 30)):
            self.assertPixel(shot, x, y, blend(CLOSE_RED, 200, bg.at(x, y)), 2, "close hover tint")
        self.assertPixel(shot, 768, 11, bg.at(768, 11), 1, "close hover tint ends at x 767")
        self.assertPixel(shot, 747, 18, 0xFFFFFF, 2, "close glyph hovered")
        self.assertPixel(shot, 705, 12, bg.at(705, 12), 1, "no minimise tint while the close glyph is hovered")

        self.moveTo(*centre(WEB))
        self.waitForShot(lambda s: self.isGoldText(self.textPixels(s, WEB)), "the web link's hover look")
        self.moveTo(*centre(REPAIR))
        shot = self.waitForShot(lambda s: self.isGoldText(self.textPixels(s, REPAIR_TEXT)),
                                "the repair link's hover look")
        self.assertTrue(self.isSlateText(self.textPixels(shot, WEB)), "the web link stays lit after the pointer left")

        # The web link hands WebUrl to the desktop's opener, once.
        self.click(*centre(WEB))
        self.waitUntil(self.openedUrls, 30, "the web link to open a URL")
        time.sleep(1)
        self.assertEqual(self.openedUrls(), ["https://orvel.test/inicio"])
        self.assertStillRunning("the web link")

        self.click(*centre(CLOSE))
        self.assertEqual(self.waitForExit("a click on the close glyph"), 0)
        self.assertEqual(self.gameStarts(), [], "closing started the game")
        self.assertEqual(self.requests("manifest.txt"), 1, "closing started another run")

    def test_repair_runs_once_more_while_play_and_repair_are_inert(self):
        # A space in the folder name: the game must still start from it.
        self.makeClient("repair", news=[("Aviso", "Mantenimiento el martes")], folderName="repair client")
        self.startLauncher()
        self.waitForShot(self.playIsEnabledAtRest, "the first run to end")
        self.assertEqual((self.requests("manifest.txt"), self.requests("news.txt")), (1, 1))

        # The repair run hangs on its manifest long enough for every check below.
        setFault("/repair/manifest.txt", {"delay": 16})
        self.click(*centre(REPAIR))
        shot = self.waitForShot(self.playIsDisabled, "the repair run's disabled JUGAR")
        self.park()
        shot = self.waitForShot(lambda s: self.playIsDisabled(s) and self.isGoldText(self.textPixels(s, PERCENT)),
                                "the gold percentage during the repair run")
        for x in (590, 665, 739):
            for y in (366, 392, 417):
                if not inside((600, 376, 730, 408), x, y):
                    self.assertPixel(shot, x, y, PLAY_FACE_DISABLED, 2, "JUGAR's disabled face")
        label = self.textPixels(shot, PLAY, lambda x, y: rgb(PLAY_FACE_DISABLED))
        self.assertGreater(len(label), 30, "no JUGAR label on the disabled face (%s)" % shot.path)
        self.assertLessEqual(max(max(p) for p in label), 0x84 + 4, "disabled JUGAR label is brighter than its grey")
        self.assertRepairDimmed(shot, "during the run")

        # Hovering the inactive repair link leaves it dim; clicks and Enter do nothing.
        self.moveTo(*centre(REPAIR))
        time.sleep(1)
        self.assertRepairDimmed(self.shot(), "hovered during the run")
        self.click(*centre(REPAIR))
        self.click(*centre(PLAY))
        self.key("Return")
        self.assertNothingStarted("JUGAR and Enter during a run")
        self.park()
        shot = self.shot()
        self.assertTrue(self.playIsDisabled(shot), "JUGAR enabled during the run (%s)" % shot.path)
        self.assertEqual(self.requests("manifest.txt"), 1,
                         "the repair run ended before the checks were done: raise the delay")

        setFault("/repair/manifest.txt", None)
        self.waitForShot(self.playIsEnabledAtRest, "the repair run to end", timeout=40)
        self.assertEqual(self.requests("manifest.txt"), 2, "repair is one more run")
        self.assertEqual(self.requests("news.txt"), 1, "news already shown is not fetched again")
        # A click taken during the run would show up now as a third run.
        time.sleep(2.5)
        self.assertEqual(self.requests("manifest.txt"), 2, "a click during the repair run started another run")
        self.assertTrue(self.playIsEnabledAtRest(self.shot()), "a run started after the repair run")

        self.click(*centre(PLAY))
        self.assertEqual(self.waitForExit("a click on JUGAR"), 0)
        self.assertGameStartedOnce()

    def test_early_end_with_plain_http_web_url_drag_and_enter(self):
        # No manifest: the run ends early. The web link is plain HTTP, so it is dropped.
        self.makeClient("early", webUrl="http://orvel.test/inicio", manifest=False)
        setFault("/early/manifest.txt", {"delay": 15})
        self.startLauncher()
        bg = self.background
        shot = self.waitForShot(lambda s: self.playIsDisabled(s) and self.isGoldText(self.textPixels(s, PERCENT)),
                                "the run's disabled JUGAR and percentage")
        self.assertAreaIsBand(shot, WEB, "web link area with a plain-http WebUrl")

        # During the run the disabled JUGAR neither lights up nor drags the window.
        self.moveTo(*centre(PLAY))
        time.sleep(1)
        shot = self.shot()
        self.assertTrue(self.playIsDisabled(shot), "disabled JUGAR lit on hover (%s)" % shot.path)
        self.drag(660, 392, 90, 45)
        self.assertEqual(self.windowFacts()["rect"], (570, 320, 1350, 760), "dragging JUGAR moved the window")
        self.key("Return")
        self.assertNothingStarted("dragging JUGAR and Enter during the run")
        self.assertEqual(self.requests("manifest.txt"), 0,
                         "the run ended before the checks were done: raise the delay")

        self.park()
        shot = self.waitForShot(self.playIsEnabledAtRest, "the run to end", timeout=40)
        self.assertEqual(self.requests("manifest.txt"), 1)
        # Progress stayed at 0: the bare track, no fill, no percentage.
        self.assertArea(shot, TRACK_RECT, lambda x, y: rgb(TRACK), 1, "bare progress track")
        self.assertAreaIsBand(shot, PERCENT, "percentage area after the run")
        self.assertArea(shot, (48, 206, 50, 332), bg.at, 1, "no news accent bars without news")
        self.assertArea(shot, NEWS_HEADING, bg.at, 1, "no news heading without news")

        # The dropped web link: nothing drawn, hovered or not, and a click opens nothing.
        self.moveTo(*centre(WEB))
        time.sleep(1)
        self.assertAreaIsBand(self.shot(), WEB, "hovered web link area with a plain-http WebUrl")
        self.click(*centre(WEB))
        self.assertNothingStarted("a click on the dropped web link")
        self.assertEqual(self.openedUrls(), [], "a plain-http WebUrl was opened")

        # Any band point outside the controls drags the window along.
        self.drag(400, 430, 120, -60)
        self.assertEqual(self.windowFacts()["rect"], (690, 260, 1470, 700), "the window did not follow the drag")
        self.origin = (690, 260)
        self.park()
        shot = self.waitForShot(self.playIsEnabledAtRest, "the moved window painted")
        self.assertPixel(shot, 300, 386, TRACK, 1, "the moved window's track")
        self.assertEqual(self.gameStarts(), [], "the drag started the game")

        self.key("Return")
        self.assertEqual(self.waitForExit("Enter"), 0)
        self.assertGameStartedOnce()

    def test_escape_during_run_with_empty_web_url(self):
        self.makeClient("escape", webUrl="", news=[("General", "Hola")])
        setFault("/escape/manifest.txt", {"delay": 30})
        self.startLauncher()
        shot = self.waitForShot(self.playIsDisabled, "the run's disabled JUGAR")
        self.assertAreaIsBand(shot, WEB, "web link area with an empty WebUrl")
        self.click(*centre(WEB))
        self.assertNothingStarted("a click on the empty web link")
        self.assertEqual(self.openedUrls(), [], "an empty WebUrl opened something")

        self.key("Escape")
        self.assertEqual(self.waitForExit("Escape during a run"), 0)
        self.assertEqual(self.requests("manifest.txt"), 0, "the run had ended before Escape")
        self.assertEqual(self.gameStarts(), [], "Escape started the game")

    def test_missing_game_shows_error_and_leaves_window_as_it_was(self):
        self.makeClient("nogame", withGame=False, news=[("General", "Hola")])
        facts = self.startLauncher()
        self.waitForShot(self.playIsEnabledAtRest, "the run to end")
        before = self.shot()

        self.click(*centre(PLAY))
        boxes = self.waitUntil(self.messageBoxes, 30, "the error box")
        self.assertEqual(boxes, [["Orvel", BOX_TEXT]])
        self.key("Return")
        self.waitUntil(lambda: self.messageBoxes() == [], 30, "the error box to close")
        self.assertStillRunning("the error box closed")
        self.assertEqual(self.windowFacts(), facts, "the window changed after the error box")
        self.park()
        after = self.waitForShot(lambda s: s.raw == before.raw, "the window to look as before the error box",
                                 timeout=10)
        self.assertTrue(self.playIsEnabledAtRest(after))
        time.sleep(1)
        self.assertEqual(self.messageBoxes(), [], "a second error box appeared")
        self.assertStillRunning("the error box closed")

        # The minimise glyph: the window becomes iconic, the launcher keeps running.
        self.click(*centre(MINIMIZE))
        self.waitUntil(lambda: self.windowFacts()["iconic"], 30, "the window to be minimised")
        self.assertStillRunning("minimising")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--game", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--background", required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("test_window.py: DISPLAY is not set; run it through tools/test.sh or on an X screen")
    for name in ("ORVEL_TEST_WORK", "ORVEL_TEST_ROOT", "ORVEL_TEST_LOG", "ORVEL_TEST_HTTP_PORT"):
        if not os.environ.get(name):
            sys.exit("test_window.py: %s is not set; run it through tests/support/withservers.py" % name)
    if not shutil.which("xdotool"):
        sys.exit("test_window.py: xdotool is missing")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
