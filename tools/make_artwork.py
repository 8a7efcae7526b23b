#!/usr/bin/python3
"""Draws the launcher's artwork into resources/.

  resources/background.bmp   780 x 440 window background (24-bit BI_RGB)
  resources/orvel.ico        16..256 px emblem, PNG-compressed RGBA entries
  build/artwork-preview.png  2x preview for a human eye (not committed)
  build/icon-preview.png     every icon size on light and dark strips (not committed)

Run from anywhere: /usr/bin/python3 tools/make_artwork.py
Needs only the standard library and ImageMagick's /usr/bin/convert (which
rasterises the silhouettes and the Cinzel logo). Every step is deterministic,
so re-running it reproduces the committed files byte for byte.
"""

import math
import os
import struct
import subprocess
import sys
import types
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESOURCES = os.path.join(ROOT, "resources")
BUILD = os.path.join(ROOT, "build")
FONT = os.path.join(RESOURCES, "Cinzel-Bold.ttf")

# /usr/local/bin/convert may be a stand-in; only the real one rasterises.
CONVERT = "/usr/bin/convert"

WIDTH = 780
HEIGHT = 440
SUN_X = 588.0
SUN_Y = 322.0

ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


# ---------------------------------------------------------------- helpers

def fail(message):
    sys.stderr.write("make_artwork: " + message + "\n")
    sys.exit(1)


def runConvert(args):
    # A fixed environment keeps user-level ImageMagick settings out of the output.
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "MAGICK_THREAD_LIMIT": "1"}
    try:
        done = subprocess.run([CONVERT] + args, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env, check=False)
    except OSError as err:
        fail("cannot run %s (%s); apt-get install imagemagick" % (CONVERT, err))
    if done.returncode != 0:
        fail("convert failed: %s" % done.stderr.decode("utf-8", "replace").strip())
    return done.stdout


def renderMask(drawArgs, post=()):
    """White-on-black coverage mask from ImageMagick, as floats 0..1."""
    raw = runConvert(["-size", "%dx%d" % (WIDTH, HEIGHT), "xc:black",
                      "-fill", "white", "-stroke", "none"] + list(drawArgs) +
                     list(post) + ["-depth", "8", "gray:-"])
    if len(raw) != WIDTH * HEIGHT:
        fail("mask has %d bytes, expected %d" % (len(raw), WIDTH * HEIGHT))
    return [v / 255.0 for v in raw]


def polygonArg(points):
    return "polygon " + " ".join("%.2f,%.2f" % p for p in points)


def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def ramp(stops, v):
    """Piecewise colour ramp with eased segments: stops = [(pos, (r,g,b)), ...]."""
    if v <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if v <= p1:
            return mix(c0, c1, smoothstep(p0, p1, v))
    return stops[-1][1]


def lcg(seed):
    """Tiny fixed PRNG so star fields never depend on Python's random module."""
    state = seed & 0xFFFFFFFF
    while True:
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        yield state / 4294967296.0


def newCanvas():
    """Float RGB planes, row-major, 0..1."""
    count = WIDTH * HEIGHT
    return types.SimpleNamespace(r=[0.0] * count, g=[0.0] * count, b=[0.0] * count)


def paint(canvas, alpha, colourAt, strength=1.0):
    """Source-over of colourAt(x, y, i) through a coverage list."""
    r, g, b = canvas.r, canvas.g, canvas.b
    for i, a in enumerate(alpha):
        if a <= 0.0:
            continue
        a *= strength
        y, x = divmod(i, WIDTH)
        cr, cg, cb = colourAt(x, y, i)
        r[i] += (cr - r[i]) * a
        g[i] += (cg - g[i]) * a
        b[i] += (cb - b[i]) * a


# ---------------------------------------------------------------- background

COOL_SKY = [(0, (0.016, 0.020, 0.062)), (110, (0.034, 0.038, 0.112)),
            (220, (0.078, 0.058, 0.170)), (320, (0.150, 0.080, 0.200)),
            (440, (0.100, 0.050, 0.110))]
WARM_SKY = [(0, (0.022, 0.024, 0.080)), (110, (0.060, 0.050, 0.150)),
            (190, (0.170, 0.085, 0.235)), (250, (0.400, 0.150, 0.260)),
            (300, (0.760, 0.310, 0.190)), (330, (0.980, 0.560, 0.260)),
            (440, (0.700, 0.300, 0.120))]


def warmth(x, y):
    # The ember light sits behind the castle and fades towards the left, where
    # the news text goes.
    dx = (x - SUN_X) / 250.0
    return math.exp(-dx * dx) * (0.35 + 0.65 * smoothstep(40.0, 300.0, y))


def skyColour(x, y):
    base = mix(ramp(COOL_SKY, y), ramp(WARM_SKY, y), warmth(x, y))
    dx = (x - SUN_X) / 115.0
    dy = (y - SUN_Y) / 70.0
    glow = 0.30 * math.exp(-(dx * dx + dy * dy))
    return (base[0] + glow, base[1] + glow * 0.55, base[2] + glow * 0.28)


def paintSky(canvas):
    r, g, b = canvas.r, canvas.g, canvas.b
    for y in range(HEIGHT):
        row = y * WIDTH
        for x in range(WIDTH):
            c = skyColour(x, y)
            r[row + x], g[row + x], b[row + x] = c


def starFree(x, y):
    if x >= 670 and y <= 56:       # window glyphs are drawn there
        return False
    if 24 <= x <= 390 and 30 <= y <= 160:   # behind the logo
        return False
    return True


def paintStars(canvas):
    rnd = lcg(0x0E5E1)
    r, g, b = canvas.r, canvas.g, canvas.b
    placed = 0
    while placed < 150:
        x = int(next(rnd) * WIDTH)
        y = int(210.0 * next(rnd) ** 1.7)
        bright = 0.10 + 0.55 * next(rnd) ** 3
        tint = next(rnd)
        if not starFree(x, y) or x < 1 or x >= WIDTH - 1 or y < 1:
            continue
        placed += 1
        # Stars drown in the ember glow and thin out towards the horizon.
        bright *= (1.0 - 0.85 * warmth(x, y)) * (1.0 - smoothstep(120.0, 215.0, y))
        colour = (0.85 + 0.15 * tint, 0.88, 1.0 - 0.2 * tint)
        spots = [(0, 0, 1.0)]
        if bright > 0.32:
            spots += [(1, 0, 0.3), (-1, 0, 0.3), (0, 1, 0.3), (0, -1, 0.3)]
        for ox, oy, k in spots:
            i = (y + oy) * WIDTH + x + ox
            a = bright * k
            r[i] += (colour[0] - r[i]) * a
            g[i] += (colour[1] - g[i]) * a
            b[i] += (colour[2] - b[i]) * a


def farRidge(x):
    peaks = ((-20, 36, 120), (90, 22, 80), (205, 30, 95), (330, 44, 110),
             (455, 30, 90), (560, 52, 120), (700, 40, 105), (800, 30, 90))
    height = 0.0
    for cx, h, w in peaks:
        t = 1.0 - abs(x - cx) / w
        if t > 0.0:
            height = max(height, h * t ** 1.25)
    jag = 2.2 * math.sin(x * 0.21) + 1.4 * math.sin(x * 0.53 + 1.3) + 0.8 * math.sin(x * 1.37)
    return 318.0 - height - jag


def midRidge(x):
    hill = 24.0 * math.exp(-((x - 622.0) / 95.0) ** 2)
    left = 10.0 * math.exp(-((x - 150.0) / 140.0) ** 2)
    roll = 4.0 * math.sin(x * 0.018 + 0.6) + 2.0 * math.sin(x * 0.047 + 2.0)
    return 338.0 - hill - left - roll


def frontRidge(x):
    left = 14.0 * math.exp(-((x + 10.0) / 170.0) ** 2)
    roll = 3.0 * math.sin(x * 0.011 + 2.2) + 1.5 * math.sin(x * 0.031)
    return 356.0 - left - roll


def ridgePolygon(ridge, step=3):
    points = [(-2.0, HEIGHT + 2.0)]
    for x in range(-2, WIDTH + 4, step):
        points.append((float(x), ridge(float(x))))
    points.append((WIDTH + 2.0, HEIGHT + 2.0))
    return points


def castleShapes():
    """Keep, towers and curtain wall on the right-hand hill."""
    base = midRidge(622.0) + 6.0
    foot = base + 40.0      # buried in the hill, so no edge floats above the slope
    shapes = []

    def tower(x0, x1, top, roof):
        shapes.append(polygonArg([(x0, foot), (x0, top), (x1, top), (x1, foot)]))
        mid = (x0 + x1) / 2.0
        shapes.append(polygonArg([(x0 - 2.0, top + 0.5), (mid, top - roof), (x1 + 2.0, top + 0.5)]))

    # Curtain wall with crenellations.
    wallTop = base - 26.0
    shapes.append(polygonArg([(566.0, foot), (566.0, wallTop), (680.0, wallTop), (680.0, foot)]))
    for x in range(566, 680, 8):
        shapes.append(polygonArg([(x, wallTop), (x, wallTop - 4.0),
                                  (x + 4.0, wallTop - 4.0), (x + 4.0, wallTop)]))
    tower(560.0, 574.0, base - 52.0, 20.0)
    tower(598.0, 626.0, base - 82.0, 40.0)      # keep
    tower(640.0, 655.0, base - 62.0, 26.0)
    tower(672.0, 681.0, base - 40.0, 16.0)
    # Spire needle on the keep.
    shapes.append(polygonArg([(611.0, base - 121.0), (612.0, base - 136.0), (613.0, base - 121.0)]))
    return shapes, base


# Thin sunset streaks: (centre x, centre y, half length, thickness, opacity).
CLOUDS = ((455, 266, 70, 2.4, 0.30), (530, 256, 105, 3.2, 0.40), (612, 244, 125, 3.4, 0.42),
          (705, 262, 95, 2.6, 0.38), (588, 278, 72, 1.8, 0.30), (742, 236, 72, 2.6, 0.30),
          (672, 226, 58, 1.8, 0.22), (545, 233, 44, 1.5, 0.18), (415, 280, 46, 1.5, 0.16))


def paintClouds(canvas):
    for cx, cy, half, thick, opacity in CLOUDS:
        alpha = [0.0] * (WIDTH * HEIGHT)
        x0, x1 = max(0, int(cx - 2 * half)), min(WIDTH, int(cx + 2 * half))
        for x in range(x0, x1):
            along = (x - cx) / half
            taper = math.exp(-2.0 * along * along)
            # A slight sag and thinning towards the ends keeps them from looking ruled.
            mid = cy + 1.5 * math.sin(x * 0.05 + cx) + 2.0 * along * along
            width = thick * (0.45 + 0.55 * taper)
            for y in range(int(mid - 4 * width) - 1, int(mid + 4 * width) + 2):
                across = (y + 0.5 - mid) / width
                alpha[y * WIDTH + x] = opacity * taper * math.exp(-across * across)

        def cloudAt(x, y, i, cy=cy):
            w = warmth(x, y)
            lit = mix((0.22, 0.11, 0.26), (1.0, 0.50, 0.36), w)
            # Lit from below by the sun that has already set.
            return mix(lit, (1.0, 0.70, 0.45), 0.35 * w * smoothstep(cy - 2.0, cy + 3.0, y))
        paint(canvas, alpha, cloudAt)


def paintLandscape(canvas):
    far = renderMask(["-draw", polygonArg(ridgePolygon(farRidge))])
    farColour = (0.120, 0.070, 0.185)

    def farAt(x, y, i):
        sky = skyColour(x, y)
        haze = 0.38 + 0.22 * warmth(x, y)
        return mix(farColour, sky, haze)
    paint(canvas, far, farAt)

    # Low mist between the ranges, lit from the sunset side.
    mistColour = (0.56, 0.27, 0.30)
    mist = [0.0] * (WIDTH * HEIGHT)
    for y in range(290, 352):
        for x in range(WIDTH):
            dy = (y - 330.0) / 11.0
            mist[y * WIDTH + x] = 0.30 * math.exp(-dy * dy) * (0.25 + 0.75 * warmth(x, 330.0))
    paint(canvas, mist, lambda x, y, i: mistColour)

    shapes, base = castleShapes()
    drawArgs = ["-draw", polygonArg(ridgePolygon(midRidge))]
    for shape in shapes:
        drawArgs += ["-draw", shape]
    mid = renderMask(drawArgs)
    midColour = (0.045, 0.030, 0.070)

    def midAt(x, y, i):
        # Only a hint of the sunset on the near hills; they stay a silhouette.
        return mix(midColour, (0.55, 0.22, 0.16), 0.10 * warmth(x, 330.0))
    paint(canvas, mid, midAt)

    # A few lit windows in the castle.
    windows = renderMask(["-draw", "rectangle 610,%.1f 613,%.1f" % (base - 66, base - 61),
                          "-draw", "rectangle 606,%.1f 608,%.1f" % (base - 44, base - 40),
                          "-draw", "rectangle 616,%.1f 618,%.1f" % (base - 44, base - 40),
                          "-draw", "rectangle 646,%.1f 648,%.1f" % (base - 46, base - 42),
                          "-draw", "rectangle 565,%.1f 567,%.1f" % (base - 38, base - 34)])
    windowGlow = renderMask(["-draw", "rectangle 610,%.1f 613,%.1f" % (base - 66, base - 61),
                             "-draw", "rectangle 606,%.1f 608,%.1f" % (base - 44, base - 40),
                             "-draw", "rectangle 616,%.1f 618,%.1f" % (base - 44, base - 40),
                             "-draw", "rectangle 646,%.1f 648,%.1f" % (base - 46, base - 42),
                             "-draw", "rectangle 565,%.1f 567,%.1f" % (base - 38, base - 34)],
                            ["-blur", "0x3"])
    paint(canvas, windowGlow, lambda x, y, i: (1.0, 0.62, 0.25), 0.40)
    paint(canvas, windows, lambda x, y, i: (1.0, 0.76, 0.40), 0.80)

    front = renderMask(["-draw", polygonArg(ridgePolygon(frontRidge))])

    def frontAt(x, y, i):
        t = smoothstep(340.0, 440.0, y)
        return mix((0.030, 0.022, 0.046), (0.020, 0.016, 0.032), t)
    paint(canvas, front, frontAt)


def paintVignette(canvas):
    r, g, b = canvas.r, canvas.g, canvas.b
    for y in range(HEIGHT):
        ny = y / (HEIGHT - 1.0)
        for x in range(WIDTH):
            nx = x / (WIDTH - 1.0)
            # Darker at the edges, a little more on the left for the news text.
            edge = (nx - 0.58) ** 2 * 0.9 + (ny - 0.55) ** 2 * 0.7
            k = 1.0 - 0.55 * clamp01(edge)
            i = y * WIDTH + x
            r[i] *= k
            g[i] *= k
            b[i] *= k


GOLD = [(0.00, (1.000, 0.955, 0.780)), (0.46, (0.940, 0.735, 0.330)),
        (0.54, (0.690, 0.450, 0.140)), (0.80, (0.860, 0.630, 0.270)),
        (1.00, (0.985, 0.850, 0.500))]


def paintLogo(canvas):
    text = ["-font", FONT, "-pointsize", "88", "-kerning", "1",
            "-annotate", "+40+118", "ORVEL"]
    mask = renderMask(text)
    rows = [y for y in range(HEIGHT) if max(mask[y * WIDTH:(y + 1) * WIDTH]) > 0.5]
    cols = [x for x in range(WIDTH) if max(mask[x::WIDTH]) > 0.5]
    if not rows or not cols:
        fail("logo text rendered empty; is %s a usable font?" % FONT)
    top, bottom, left, right = rows[0], rows[-1], cols[0], cols[-1]

    glow = renderMask(text, ["-blur", "0x14"])
    paint(canvas, glow, lambda x, y, i: (1.0, 0.55, 0.22), 0.30)
    shadow = renderMask(["-font", FONT, "-pointsize", "88", "-kerning", "1",
                         "-annotate", "+42+121", "ORVEL"], ["-blur", "0x2.5"])
    paint(canvas, shadow, lambda x, y, i: (0.0, 0.0, 0.0), 0.85)
    outline = renderMask(text, ["-morphology", "Dilate", "Disk:1.2"])
    paint(canvas, outline, lambda x, y, i: (0.20, 0.11, 0.03))

    span = float(bottom - top)

    def goldAt(x, y, i):
        c = ramp(GOLD, (y - top) / span)
        # Bevel: lighten edges that face up, darken those that face down.
        above = mask[i - 2 * WIDTH] if y >= 2 else 0.0
        below = mask[i + 2 * WIDTH] if y < HEIGHT - 2 else 0.0
        lit = max(0.0, mask[i] - above)
        shade = max(0.0, mask[i] - below)
        c = mix(c, (1.0, 0.98, 0.88), 0.55 * lit)
        return mix(c, (0.45, 0.27, 0.07), 0.45 * shade)
    paint(canvas, mask, goldAt)

    # Ornament under the word: a fading rule with a diamond at its centre.
    centre = (left + right) / 2.0
    ruleY = bottom + 17.0
    ornament = [0.0] * (WIDTH * HEIGHT)
    for y in range(int(ruleY) - 8, int(ruleY) + 9):
        for x in range(left - 4, right + 5):
            line = clamp01(0.8 - abs(y + 0.5 - ruleY))
            fade = smoothstep(0.0, 70.0, min(x - left + 4, right + 4 - x))
            d = (abs(x + 0.5 - centre) + abs(y + 0.5 - ruleY) - 6.0) / math.sqrt(2.0)
            gem = clamp01(0.5 - d)
            ornament[y * WIDTH + x] = max(line * fade * 0.9, gem)
    paint(canvas, ornament, lambda x, y, i: (0.93, 0.74, 0.36))
    return (left, top, right, bottom, int(ruleY))


BAYER4 = (0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5)


def quantise(canvas):
    """Ordered dither to 8 bits so the long dusk gradient shows no bands."""
    out = bytearray(WIDTH * HEIGHT * 3)
    r, g, b = canvas.r, canvas.g, canvas.b
    for y in range(HEIGHT):
        for x in range(WIDTH):
            i = y * WIDTH + x
            t = (BAYER4[(y & 3) * 4 + (x & 3)] + 0.5) / 16.0
            o = i * 3
            out[o] = min(255, max(0, int(r[i] * 255.0 + t)))
            out[o + 1] = min(255, max(0, int(g[i] * 255.0 + t)))
            out[o + 2] = min(255, max(0, int(b[i] * 255.0 + t)))
    return out


def regionLuma(rgb, x0, y0, x1, y1):
    total, peak, count = 0.0, 0.0, 0
    for y in range(y0, y1):
        for x in range(x0, x1):
            o = (y * WIDTH + x) * 3
            luma = (0.2126 * rgb[o] + 0.7152 * rgb[o + 1] + 0.0722 * rgb[o + 2]) / 255.0
            total += luma
            peak = max(peak, luma)
            count += 1
    return total / count, peak


def bmpBytes(rgb):
    rowBytes = WIDTH * 3
    stride = (rowBytes + 3) & ~3
    pixels = bytearray()
    for y in range(HEIGHT - 1, -1, -1):      # bottom-up
        row = rgb[y * rowBytes:(y + 1) * rowBytes]
        bgr = bytearray(rowBytes)
        bgr[0::3] = row[2::3]
        bgr[1::3] = row[1::3]
        bgr[2::3] = row[0::3]
        pixels += bgr + b"\0" * (stride - rowBytes)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0,
                       len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def makeBackground():
    canvas = newCanvas()
    paintSky(canvas)
    paintStars(canvas)
    paintClouds(canvas)
    paintLandscape(canvas)
    paintVignette(canvas)
    logoBox = paintLogo(canvas)
    rgb = quantise(canvas)

    # The window paints light text and glyphs over these areas.
    newsMean, newsPeak = regionLuma(rgb, 24, 170, 420, 340)
    cornerMean, cornerPeak = regionLuma(rgb, 700, 10, 768, 36)
    bandMean, bandPeak = regionLuma(rgb, 0, 346, WIDTH, HEIGHT)
    if newsMean > 0.16 or cornerPeak > 0.12 or bandPeak > 0.15:
        fail("artwork too bright under overlays: news %.3f corner %.3f band %.3f"
             % (newsMean, cornerPeak, bandPeak))
    print("background: logo box x %d..%d y %d..%d, rule y %d" %
          (logoBox[0], logoBox[2], logoBox[1], logoBox[3], logoBox[4]))
    print("background: luma news area mean %.3f peak %.3f; corner peak %.3f; band mean %.3f peak %.3f"
          % (newsMean, newsPeak, cornerPeak, bandMean, bandPeak))
    return rgb


# ---------------------------------------------------------------- icon

ICON_GOLD = [(0.00, (1.000, 0.945, 0.720)), (0.42, (0.950, 0.760, 0.340)),
             (0.58, (0.780, 0.530, 0.180)), (1.00, (0.620, 0.390, 0.110))]


def cover(distance, soft):
    """Anti-aliased coverage from a signed distance (negative inside)."""
    return clamp01(0.5 - distance / soft)


def ellipseDistance(px, py, rx, ry):
    # Good-enough signed distance for mildly eccentric ellipses.
    k = math.hypot(px / rx, py / ry)
    if k == 0.0:
        return -min(rx, ry)
    grad = math.hypot(px / (rx * rx), py / (ry * ry))
    return k * (k - 1.0) / grad if grad > 0.0 else -min(rx, ry)


def iconPixels(size):
    """Straight-alpha RGBA bytes for one icon size, drawn analytically."""
    s = float(size)
    small = size <= 24
    c = s / 2.0
    shadow = size >= 48
    # Room for the soft drop shadow on the large sizes, a half pixel on the small.
    outer = s * 0.46 if shadow else s * 0.5 - max(0.5, s * 0.02)
    rim = max(1.0, s * 0.035)                        # dark edge, keeps it readable on white
    holeRx = s * (0.225 if small else 0.255)
    holeRy = s * (0.270 if small else 0.300)
    gem = s * (0.11 if small else 0.135)
    out = bytearray(size * size * 4)
    for y in range(size):
        for x in range(size):
            px = x + 0.5 - c
            py = y + 0.5 - c
            # Premultiplied accumulation: colour (r, g, b) and alpha a.
            r = g = b = a = 0.0

            def over(cr, cg, cb, ca):
                nonlocal r, g, b, a
                r = cr * ca + r * (1.0 - ca)
                g = cg * ca + g * (1.0 - ca)
                b = cb * ca + b * (1.0 - ca)
                a = ca + a * (1.0 - ca)

            dist = math.hypot(px, py)
            if shadow:
                sd = math.hypot(px, py - s * 0.015) - outer
                over(0.0, 0.0, 0.0, 0.45 * clamp01(0.5 - sd / (s * 0.035)))
            over(0.24, 0.13, 0.03, cover(dist - outer, 1.0))
            # Gold ring: the "O", thicker at the sides like a Roman capital.
            ring = cover(dist - (outer - rim), 1.0)
            if ring > 0.0:
                t = clamp01(0.5 + (px * 0.55 + py * 0.85) / (outer * 2.0))
                gr, gg, gb = ramp(ICON_GOLD, t)
                if not small:
                    # Soft specular arc along the upper left.
                    shine = math.exp(-((dist - (outer - rim * 2.5)) / (s * 0.03)) ** 2)
                    shine *= clamp01(-(px + py) / (outer * 1.2))
                    gr, gg, gb = mix((gr, gg, gb), (1.0, 0.98, 0.88), 0.6 * shine)
                over(gr, gg, gb, ring)
            hd = ellipseDistance(px, py, holeRx, holeRy)
            if not small:
                over(0.30, 0.17, 0.04, cover(hd - max(1.0, s * 0.018), 1.0))
            hole = cover(hd, 1.0)
            if hole > 0.0:
                # Dusk inside the ring: violet above, ember near the bottom.
                t = clamp01(0.5 + py / (holeRy * 2.0))
                dusk = ramp([(0.0, (0.085, 0.055, 0.200)), (0.62, (0.180, 0.080, 0.260)),
                             (1.0, (0.720, 0.280, 0.130))], t)
                over(dusk[0], dusk[1], dusk[2], hole)
            # Four-point star in the middle of the ring.
            if small:
                sd = (abs(px) + abs(py) - gem) / math.sqrt(2.0)
            else:
                arm = min(abs(px) / gem + abs(py) / (gem * 0.30),
                          abs(px) / (gem * 0.30) + abs(py) / gem) - 1.0
                sd = arm * gem * 0.28
            star = cover(sd, 1.0)
            if star > 0.0:
                over(1.0, 0.90, 0.60, star)
            o = (y * size + x) * 4
            if a > 0.0:
                out[o] = int(clamp01(r / a) * 255.0 + 0.5)
                out[o + 1] = int(clamp01(g / a) * 255.0 + 0.5)
                out[o + 2] = int(clamp01(b / a) * 255.0 + 0.5)
            out[o + 3] = int(clamp01(a) * 255.0 + 0.5)
    return out


def pngBytes(width, height, rgba):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    stride = width * 4
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        raw += rgba[y * stride:(y + 1) * stride]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)   # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icoFile(images):
    """An icon file of PNG images, one for each of ICON_SIZES."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, png in zip(ICON_SIZES, images):
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return head + entries + b"".join(images)


def icoBytes():
    pixels = [iconPixels(size) for size in ICON_SIZES]
    images = [pngBytes(size, size, rgba) for size, rgba in zip(ICON_SIZES, pixels)]
    return icoFile(images), pixels


# ---------------------------------------------------------------- main

def writeFile(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (os.path.relpath(path, ROOT), len(data)))


def main():
    if not os.path.isfile(FONT):
        fail("%s missing; run tools/fetch_font.sh" % FONT)
    if not os.access(CONVERT, os.X_OK):
        fail("%s missing; apt-get install imagemagick" % CONVERT)

    rgb = makeBackground()
    writeFile(os.path.join(RESOURCES, "background.bmp"), bmpBytes(rgb))

    ico, iconRgba = icoBytes()
    writeFile(os.path.join(RESOURCES, "orvel.ico"), ico)

    writeFile(os.path.join(BUILD, "artwork-preview.png"), previewPng(rgb, 2))
    writeFile(os.path.join(BUILD, "icon-preview.png"), iconSheet(iconRgba))
    return 0


def previewPng(rgb, scale):
    """Pixel-doubled copy of the background for a human to look at."""
    width, height = WIDTH * scale, HEIGHT * scale
    rgba = bytearray()
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            o = (y * WIDTH + x) * 3
            row += (rgb[o:o + 3] + b"\xff") * scale
        rgba += row * scale
    return pngBytes(width, height, rgba)


def iconSheet(iconRgba):
    """Every icon size at 1:1 over a light and a dark strip (taskbar themes)."""
    gap = 12
    width = sum(ICON_SIZES) + gap * (len(ICON_SIZES) + 1)
    strip = max(ICON_SIZES) + 2 * gap
    height = strip * 2
    sheet = bytearray(width * height * 4)
    for y in range(height):
        shade = 235 if y < strip else 32
        for x in range(width):
            o = (y * width + x) * 4
            sheet[o:o + 4] = bytes((shade, shade, shade + (8 if shade < 128 else 0), 255))
    for band in range(2):
        x0 = gap
        for size, pixels in zip(ICON_SIZES, iconRgba):
            y0 = band * strip + gap
            for y in range(size):
                for x in range(size):
                    s = (y * size + x) * 4
                    o = ((y0 + y) * width + x0 + x) * 4
                    a = pixels[s + 3] / 255.0
                    for k in range(3):
                        sheet[o + k] = int(pixels[s + k] * a + sheet[o + k] * (1.0 - a) + 0.5)
            x0 += size + gap
    return pngBytes(width, height, sheet)


if __name__ == "__main__":
    sys.exit(main())
