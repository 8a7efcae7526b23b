#!/usr/bin/python3
"""check_resources.py EXE: the resources linked into a built launcher must be the
background bitmap 100 (780 x 440, 24-bit), the title font 101 (TrueType, family
Cinzel), icon group 1 with exactly the images it lists and version record 1 with
shell/Version.h's version; nothing else (no manifest), one language each.
Prints each fault and exits 1, or exits 0.
"""

import os
import re
import struct
import sys

RT_BITMAP, RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION = 2, 3, 10, 14, 16
VERSION_H = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "shell", "Version.h")


def readResources(path):
    """{(type, name): [data of each language]}; a string name stays a str."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sectionCount, optionalSize = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    sections = [struct.unpack_from("<8xIIII", data, optional + optionalSize + 40 * i) for i in range(sectionCount)]

    def offset(rva):
        for virtualSize, start, rawSize, raw in sections:
            if start <= rva < start + max(virtualSize, rawSize):
                return raw + rva - start
        raise ValueError("RVA 0x%x is in no section" % rva)

    root = offset(struct.unpack_from("<I", data, directories + 8 * 2)[0])

    def entries(at):
        named, numbered = struct.unpack_from("<HH", data, root + at + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, root + at + 16 + 8 * i)
            if name >> 31:
                length = struct.unpack_from("<H", data, root + (name & 0x7FFFFFFF))[0]
                start = root + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            for _, leaf in entries(languages):
                rva, size = struct.unpack_from("<II", data, root + leaf)
                found.setdefault((kind, name), []).append(data[offset(rva):offset(rva) + size])
    return found


def fontFamily(ttf):
    if ttf[:4] not in (b"\0\1\0\0", b"true"):
        return None  # not TrueType outlines
    tables = {ttf[12 + 16 * i:16 + 16 * i]: struct.unpack_from(">I", ttf, 20 + 16 * i)[0]
              for i in range(struct.unpack_from(">H", ttf, 4)[0])}
    base = tables[b"name"]
    count, strings = struct.unpack_from(">HH", ttf, base + 2)
    names = {}
    for i in range(count):
        platform, _, _, nameId, length, at = struct.unpack_from(">6H", ttf, base + 6 + 12 * i)
        raw = ttf[base + strings + at:base + strings + at + length]
        names.setdefault(nameId, raw.decode("latin-1" if platform == 1 else "utf-16-be"))
    return names.get(16, names.get(1))  # the typographic family, else the legacy one


def imageSize(image):
    """(width, height) of an icon image: a PNG or a DIB holding colour and mask."""
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack_from(">II", image, 16)
    width, height = struct.unpack_from("<ii", image, 4)
    return width, height // 2


def versionString(block, key):
    at = block.find((key + "\0").encode("utf-16-le"))
    if at < 0:
        return None
    at = (at + 2 * len(key) + 2 + 3) & ~3  # the value starts on the next 32-bit boundary
    return block[at:].decode("utf-16-le", "replace").split("\0")[0]


def faults(res):
    found = []
    with open(VERSION_H) as f:
        version = dict(re.findall(r"#define ORVEL_VERSION_(MAJOR|MINOR|TEXT) (\S+)", f.read()))
    major, minor, text = version["MAJOR"], version["MINOR"], version["TEXT"].strip('"')

    group = res.get((RT_GROUP_ICON, 1), [b""])[0]
    count = struct.unpack_from("<H", group, 4)[0] if len(group) >= 6 else 0
    icons = {}
    for i in range(count):
        width, height, _, _, _, _, size, iconId = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        icons[iconId] = (width or 256, height or 256, size)
    expected = {(RT_BITMAP, 100), (RT_RCDATA, 101), (RT_GROUP_ICON, 1), (RT_VERSION, 1)}
    expected |= {(RT_ICON, iconId) for iconId in icons}
    for key in sorted(set(res) ^ expected, key=repr):
        found.append("resource type %s name %r: %s" % (key[0], key[1], "missing" if key in expected else "stray"))
    found += ["resource type %s name %r: %d languages" % (k + (len(v),)) for k, v in res.items() if len(v) > 1]
    if not count:
        found.append("icon group 1 lists no image")
    for iconId, (width, height, size) in icons.items():
        image = res.get((RT_ICON, iconId), [b""])[0]
        if len(image) != size or imageSize(image) != (width, height):
            found.append("icon %d is not the %d x %d image of %d bytes that group 1 lists" % (
                iconId, width, height, size))

    dib = res.get((RT_BITMAP, 100), [b"\0" * 40])[0]
    _, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", dib)
    if (width, abs(height), bits, compression) != (780, 440, 24, 0) or len(dib) < 40 + 780 * 3 * 440:
        found.append("bitmap 100 is %d x %d, %d bits, compression %d: not 780 x 440 uncompressed 24-bit" % (
            width, height, bits, compression))

    family = fontFamily(res.get((RT_RCDATA, 101), [b""])[0])
    if family != "Cinzel":
        found.append("font 101: TrueType family %r, not 'Cinzel'" % family)

    block = res.get((RT_VERSION, 1), [b""])[0]
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    numbers = struct.unpack_from("<4I", block, fixed + 8) if fixed >= 0 else ()
    wanted = ((int(major) << 16) | int(minor), 0) * 2
    strings = (versionString(block, "FileVersion"), versionString(block, "ProductVersion"))
    if numbers != wanted or strings != (text, text):
        dotted = ".".join("%d.%d" % (n >> 16, n & 0xFFFF) for n in numbers)
        found.append("version record %s %s, not %s.%s.0.0 (twice) and %r as in Version.h" % (
            dotted, strings, major, minor, text))
    return found


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: check_resources.py EXE")
    try:
        found = faults(readResources(argv[1]))
    except (OSError, ValueError, KeyError, struct.error) as e:
        found = ["unreadable resources: %s" % e]
    for fault in found:
        print("FAIL  " + fault)
    print("check_resources: %s" % ("%d fault(s)" % len(found) if found else "bitmap, font, icons and version ok"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
