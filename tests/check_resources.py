#!/usr/bin/python3
"""Checks the resources linked into a built launcher executable.

  /usr/bin/python3 tests/check_resources.py build/OrvelLauncher.exe

Parses the PE resource tree directly (standard library only) and checks that
it holds exactly the artwork, font, icon and version record the launcher
loads, each in language 1033, and nothing else (in particular no manifest).
Prints one line per check and exits 1 if any check fails.
"""

import os
import re
import struct
import sys
import zlib

RT_ICON = 3
RT_BITMAP = 2
RT_RCDATA = 10
RT_GROUP_ICON = 14
RT_VERSION = 16
TYPE_NAMES = {1: "RT_CURSOR", 2: "RT_BITMAP", 3: "RT_ICON", 4: "RT_MENU", 5: "RT_DIALOG",
              6: "RT_STRING", 10: "RT_RCDATA", 12: "RT_GROUP_CURSOR", 14: "RT_GROUP_ICON",
              16: "RT_VERSION", 24: "RT_MANIFEST"}

LANG_EN_US = 1033
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
EXPECTED = ({(RT_BITMAP, 100), (RT_RCDATA, 101), (RT_GROUP_ICON, 1), (RT_VERSION, 1)} |
            {(RT_ICON, n) for n in range(1, len(ICON_SIZES) + 1)})

BMP_WIDTH = 780
BMP_HEIGHT = 440
BMP_PIXEL_BYTES = 1029600     # 440 rows of 2340 bytes, already 4-aligned
BMP_PPM = 3780

FONT_FAMILY = "Cinzel"
FONT_WEIGHT = 700

VERSION_HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                              "shell", "Version.h")
STRING_TABLE = "040a04b0"
TRANSLATION = (0x040A, 1200)


class CheckFailed(Exception):
    pass


def need(condition, message):
    if not condition:
        raise CheckFailed(message)


def typeName(kind):
    return TYPE_NAMES.get(kind, "type %s" % (kind,))


# ---------------------------------------------------------------- PE reading

def readPe(path):
    """Returns (image bytes, sections, resource RVA) or raises CheckFailed."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as err:
        raise CheckFailed("cannot read %s: %s" % (path, err))
    need(len(data) >= 0x40 and data[:2] == b"MZ", "not an MZ executable")
    peOffset = struct.unpack_from("<I", data, 0x3C)[0]
    need(data[peOffset:peOffset + 4] == b"PE\0\0", "no PE signature at 0x%x" % peOffset)
    _, sectionCount, _, _, _, optionalSize, _ = struct.unpack_from("<HHIIIHH", data, peOffset + 4)
    optional = peOffset + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x20B:        # PE32+
        dirCountAt, dirsAt = optional + 108, optional + 112
    elif magic == 0x10B:      # PE32
        dirCountAt, dirsAt = optional + 92, optional + 96
    else:
        raise CheckFailed("unknown optional header magic 0x%x" % magic)
    dirCount = struct.unpack_from("<I", data, dirCountAt)[0]
    need(dirCount > 2, "no resource data directory")
    resourceRva, resourceSize = struct.unpack_from("<II", data, dirsAt + 8 * 2)
    need(resourceRva != 0 and resourceSize != 0, "the executable has no resources at all")
    sections = []
    table = optional + optionalSize
    for i in range(sectionCount):
        _, virtualSize, rva, rawSize, rawOffset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((rva, max(virtualSize, rawSize), rawOffset, rawSize))
    return data, sections, resourceRva


def rvaToOffset(sections, rva, length):
    for start, span, rawOffset, rawSize in sections:
        if start <= rva and rva + length <= start + span:
            need(rva - start + length <= rawSize, "RVA 0x%x lies outside the file data" % rva)
            return rawOffset + rva - start
    raise CheckFailed("RVA 0x%x is in no section" % rva)


def readResources(path):
    """{(type, name, lang): bytes}; string names are kept as str."""
    data, sections, rootRva = readPe(path)
    root = rvaToOffset(sections, rootRva, 16)
    found = {}

    def entries(dirOffset):
        named, numbered = struct.unpack_from("<HH", data, root + dirOffset + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, root + dirOffset + 16 + 8 * i)
            if name & 0x80000000:
                at = root + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                key = data[at + 2:at + 2 + 2 * length].decode("utf-16-le", "replace")
            else:
                key = name
            yield key, target

    for kind, typeTarget in entries(0):
        need(typeTarget & 0x80000000, "%s is not a directory" % typeName(kind))
        for name, nameTarget in entries(typeTarget & 0x7FFFFFFF):
            need(nameTarget & 0x80000000, "%s %s is not a directory" % (typeName(kind), name))
            for lang, dataTarget in entries(nameTarget & 0x7FFFFFFF):
                need(not dataTarget & 0x80000000, "%s %s has a fourth level" % (typeName(kind), name))
                rva, size = struct.unpack_from("<II", data, root + dataTarget)
                offset = rvaToOffset(sections, rva, size)
                found[(kind, name, lang)] = data[offset:offset + size]
    return found


# ---------------------------------------------------------------- formats

def fontNames(ttf):
    need(len(ttf) >= 12, "RCDATA 101 is too short for a font")
    version, tableCount = struct.unpack_from(">IH", ttf, 0)
    need(version == 0x00010000, "RCDATA 101 is not a TrueType sfnt (version 0x%08x)" % version)
    tables = {}
    for i in range(tableCount):
        tag, _, offset, length = struct.unpack_from(">4sIII", ttf, 12 + 16 * i)
        tables[tag] = (offset, length)
    need(b"name" in tables, "font has no name table")
    base = tables[b"name"][0]
    _, count, stringsAt = struct.unpack_from(">HHH", ttf, base)
    names = {}
    for i in range(count):
        platform, _, _, nameId, length, offset = struct.unpack_from(">6H", ttf, base + 6 + 12 * i)
        raw = ttf[base + stringsAt + offset:base + stringsAt + offset + length]
        if platform in (0, 3):
            names.setdefault(nameId, raw.decode("utf-16-be", "replace"))
        elif platform == 1:
            names.setdefault(nameId, raw.decode("latin-1"))
    weight = None
    if b"OS/2" in tables:
        weight = struct.unpack_from(">H", ttf, tables[b"OS/2"][0] + 4)[0]
    return names, weight


def pngAlpha(png):
    """(width, height, colour type, alpha bytes) of an 8-bit RGBA PNG."""
    need(png[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    at = 8
    header = None
    compressed = b""
    while at + 8 <= len(png):
        length, kind = struct.unpack_from(">I4s", png, at)
        body = png[at + 8:at + 8 + length]
        crc = struct.unpack_from(">I", png, at + 8 + length)[0]
        need(zlib.crc32(kind + body) & 0xFFFFFFFF == crc, "PNG %s chunk has a bad CRC" % kind)
        if header is None:
            need(kind == b"IHDR", "PNG does not start with IHDR")
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if colour != 6 or depth != 8 or interlace != 0:
        return width, height, colour, None
    raw = zlib.decompress(compressed)
    stride = width * 4
    need(len(raw) == height * (stride + 1), "PNG pixel data has the wrong length")
    previous = bytearray(stride)
    alpha = bytearray()
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 0xFF
            else:
                need(kind == 0, "PNG row filter %d is invalid" % kind)
        alpha += line[3::4]
        previous = line
    return width, height, colour, alpha


def versionNode(block, at):
    """(key, type, value bytes, [(child start, child end)], end) of one VS node."""
    length, valueLength, kind = struct.unpack_from("<HHH", block, at)
    need(length >= 6 and at + length <= len(block), "version node at %d overruns" % at)
    end = at + length
    keyEnd = at + 6
    while block[keyEnd:keyEnd + 2] != b"\0\0":
        keyEnd += 2
        need(keyEnd < end, "version node key is not terminated")
    key = block[at + 6:keyEnd].decode("utf-16-le")
    valueAt = (keyEnd + 2 + 3) & ~3
    valueBytes = valueLength * 2 if kind == 1 else valueLength
    value = block[valueAt:min(valueAt + valueBytes, end)]
    children = []
    child = (valueAt + valueBytes + 3) & ~3
    while child + 6 <= end:
        childLength = struct.unpack_from("<H", block, child)[0]
        need(childLength >= 6, "empty version node at %d" % child)
        children.append((child, child + childLength))
        child = (child + childLength + 3) & ~3
    return key, kind, value, children, end


def expectedVersion():
    try:
        with open(VERSION_HEADER, "r", encoding="utf-8") as f:
            text = f.read()
    except OSError as err:
        raise CheckFailed("cannot read %s: %s" % (VERSION_HEADER, err))

    def define(name, pattern):
        match = re.search(r"^\s*#\s*define\s+%s\s+%s\s*$" % (name, pattern), text, re.M)
        need(match, "%s does not define %s" % (VERSION_HEADER, name))
        return match.group(1)
    return (int(define("ORVEL_VERSION_MAJOR", r"(\d+)")),
            int(define("ORVEL_VERSION_MINOR", r"(\d+)")),
            define("ORVEL_VERSION_TEXT", r'"([^"]*)"'))


# ---------------------------------------------------------------- checks

def checkInventory(res):
    present = {}
    for kind, name, lang in res:
        present.setdefault((kind, name), []).append(lang)
    missing = sorted(EXPECTED - set(present))
    extra = sorted(set(present) - EXPECTED, key=repr)
    problems = []
    if missing:
        problems.append("missing " + ", ".join("%s %s" % (typeName(k), n) for k, n in missing))
    if extra:
        problems.append("unexpected " + ", ".join("%s %r" % (typeName(k), n) for k, n in extra))
    need(not problems, "; ".join(problems))
    return "exactly RT_BITMAP 100, RT_RCDATA 101, RT_ICON 1..7, RT_GROUP_ICON 1, RT_VERSION 1"


def checkLanguages(res):
    wrong = sorted("%s %s lang %s" % (typeName(k), n, l) for k, n, l in res if l != LANG_EN_US)
    need(not wrong, "not language %d: %s" % (LANG_EN_US, ", ".join(wrong)))
    return "all %d resources are language %d, one language each" % (len(res), LANG_EN_US)


def resource(res, kind, name):
    data = res.get((kind, name, LANG_EN_US))
    need(data is not None, "%s %s (language %d) is missing" % (typeName(kind), name, LANG_EN_US))
    return data


def checkBitmap(res):
    dib = resource(res, RT_BITMAP, 100)
    need(len(dib) >= 40, "RT_BITMAP 100 is only %d bytes" % len(dib))
    (size, width, height, planes, bits, compression, imageSize, xppm, yppm,
     used, important) = struct.unpack_from("<IiiHHIIiiII", dib, 0)
    need(size == 40, "header is %d bytes, not a 40-byte BITMAPINFOHEADER" % size)
    need((width, height) == (BMP_WIDTH, BMP_HEIGHT),
         "bitmap is %d x %d, expected %d x %d bottom-up" % (width, height, BMP_WIDTH, BMP_HEIGHT))
    need(planes == 1 and bits == 24, "bitmap has %d planes, %d bpp; expected 1, 24" % (planes, bits))
    need(compression == 0, "bitmap compression is %d, expected BI_RGB" % compression)
    need(xppm == BMP_PPM and yppm == BMP_PPM, "resolution %d x %d ppm, expected %d" % (xppm, yppm, BMP_PPM))
    need(used == 0 and important == 0, "bitmap declares a colour table (%d, %d)" % (used, important))
    need(imageSize == BMP_PIXEL_BYTES, "biSizeImage is %d, expected %d" % (imageSize, BMP_PIXEL_BYTES))
    need(len(dib) == 40 + BMP_PIXEL_BYTES,
         "resource holds %d pixel bytes, expected %d" % (len(dib) - 40, BMP_PIXEL_BYTES))
    return "RT_BITMAP 100: %d x %d, 24 bpp BI_RGB, %d ppm, %d pixel bytes" % (
        width, height, xppm, len(dib) - 40)


def checkFont(res):
    ttf = resource(res, RT_RCDATA, 101)
    names, weight = fontNames(ttf)
    family = names.get(16, names.get(1))
    need(family == FONT_FAMILY, "font family is %r, expected %r" % (family, FONT_FAMILY))
    need(weight == FONT_WEIGHT, "font weight is %s, expected %d" % (weight, FONT_WEIGHT))
    return "RCDATA 101: TrueType, family %r weight %d, %d bytes" % (family, weight, len(ttf))


def checkIconGroup(res):
    group = resource(res, RT_GROUP_ICON, 1)
    need(len(group) >= 6, "RT_GROUP_ICON 1 is only %d bytes" % len(group))
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    need(reserved == 0 and kind == 1, "group header is %d/%d, expected 0/1" % (reserved, kind))
    need(count == len(ICON_SIZES), "group lists %d icons, expected %d" % (count, len(ICON_SIZES)))
    need(len(group) == 6 + 14 * count, "group is %d bytes for %d entries" % (len(group), count))
    for i, size in enumerate(ICON_SIZES):
        w, h, colours, _, planes, bits, length, iconId = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        shown = (w or 256, h or 256)
        need(shown == (size, size), "entry %d is %d x %d, expected %d" % (i + 1, shown[0], shown[1], size))
        need(colours == 0 and planes == 1 and bits == 32,
             "entry %d has %d colours, %d planes, %d bpp" % (i + 1, colours, planes, bits))
        need(iconId == i + 1, "entry %d points at RT_ICON %d" % (i + 1, iconId))
        icon = res.get((RT_ICON, iconId, LANG_EN_US))
        need(icon is not None and len(icon) == length,
             "entry %d says %d bytes, RT_ICON %d has %s" % (i + 1, length, iconId,
                                                             None if icon is None else len(icon)))
    return "RT_GROUP_ICON 1: 7 entries %s px, 1 plane, 32 bpp, ids 1..7" % "/".join(map(str, ICON_SIZES))


def checkIcons(res):
    for i, size in enumerate(ICON_SIZES):
        png = resource(res, RT_ICON, i + 1)
        try:
            width, height, colour, alpha = pngAlpha(png)
        except (CheckFailed, struct.error, zlib.error) as err:
            raise CheckFailed("RT_ICON %d: %s" % (i + 1, err or "malformed PNG"))
        need((width, height) == (size, size), "RT_ICON %d is %d x %d, expected %d" % (i + 1, width, height, size))
        need(colour == 6 and alpha is not None,
             "RT_ICON %d is PNG colour type %d, expected 6 (8-bit RGBA)" % (i + 1, colour))
        # A rounded emblem: clear corners, solid middle.
        corners = [alpha[0], alpha[size - 1], alpha[-size], alpha[-1]]
        centre = alpha[(size // 2) * size + size // 2]
        need(max(corners) == 0 and centre == 255,
             "RT_ICON %d alpha: corners %s, centre %d" % (i + 1, corners, centre))
    return "RT_ICON 1..7: RGBA PNGs of the listed sizes, transparent corners"


def checkVersion(res):
    major, minor, text = expectedVersion()
    block = resource(res, RT_VERSION, 1)
    key, _, fixed, children, _ = versionNode(block, 0)
    need(key == "VS_VERSION_INFO", "version root key is %r" % key)
    need(len(fixed) == 52, "VS_FIXEDFILEINFO is %d bytes" % len(fixed))
    fields = struct.unpack("<13I", fixed)
    need(fields[0] == 0xFEEF04BD, "VS_FIXEDFILEINFO signature 0x%08x" % fields[0])
    wanted = ((major << 16) | minor, 0)
    need(fields[2:4] == wanted, "file version %d.%d.%d.%d, expected %d.%d.0.0" % (
        fields[2] >> 16, fields[2] & 0xFFFF, fields[3] >> 16, fields[3] & 0xFFFF, major, minor))
    need(fields[4:6] == wanted, "product version %d.%d.%d.%d, expected %d.%d.0.0" % (
        fields[4] >> 16, fields[4] & 0xFFFF, fields[5] >> 16, fields[5] & 0xFFFF, major, minor))
    labels = ("flags mask", "flags", "OS", "type", "subtype", "date MS", "date LS")
    nonzero = ["%s 0x%x" % (label, v) for label, v in zip(labels, fields[6:13]) if v]
    need(not nonzero, "fixed info fields not 0: " + ", ".join(nonzero))

    blocks = {}
    for start, end in children:
        childKey = versionNode(block, start)[0]
        need(childKey not in blocks, "version block %r appears twice" % childKey)
        blocks[childKey] = start
    need(set(blocks) == {"StringFileInfo", "VarFileInfo"},
         "version blocks are %s" % sorted(blocks))

    tables = versionNode(block, blocks["StringFileInfo"])[3]
    tableKeys = [versionNode(block, start)[0] for start, _ in tables]
    need(tableKeys == [STRING_TABLE], "string tables are %s, expected [%r]" % (tableKeys, STRING_TABLE))
    strings = {}
    for start, _ in versionNode(block, tables[0][0])[3]:
        name, kind, value, _, _ = versionNode(block, start)
        need(kind == 1, "string %r is not text" % name)
        strings[name] = value.decode("utf-16-le").rstrip("\0")
    wantedStrings = {"CompanyName": "Orvel", "FileDescription": "Orvel Launcher",
                     "FileVersion": text, "ProductName": "Orvel", "ProductVersion": text}
    need(strings == wantedStrings, "strings are %r, expected %r" % (strings, wantedStrings))

    variables = versionNode(block, blocks["VarFileInfo"])[3]
    need(len(variables) == 1, "VarFileInfo holds %d entries" % len(variables))
    name, _, value, _, _ = versionNode(block, variables[0][0])
    need(name == "Translation" and value == struct.pack("<HH", *TRANSLATION),
         "VarFileInfo %r = %s, expected Translation 0x%04X, %d" % (name, value.hex(), *TRANSLATION))
    return ("RT_VERSION 1: %d.%d.0.0 file and product, fixed fields 0, %s with 5 strings, "
            "Translation 0x%04X %d" % (major, minor, STRING_TABLE, *TRANSLATION))


CHECKS = (("inventory", checkInventory), ("languages", checkLanguages),
          ("bitmap", checkBitmap), ("font", checkFont), ("icon group", checkIconGroup),
          ("icons", checkIcons), ("version", checkVersion))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: check_resources.py PE-FILE\n")
        return 2
    passed = failed = 0
    try:
        res = readResources(argv[1])
        print("ok    resources: %s has %d resource entries" % (argv[1], len(res)))
        passed += 1
    except CheckFailed as err:
        print("FAIL  resources: %s" % err)
        res = None
        failed += 1
    except (struct.error, UnicodeDecodeError) as err:
        print("FAIL  resources: truncated or malformed PE (%s)" % err)
        res = None
        failed += 1
    if res is not None:
        for label, check in CHECKS:
            try:
                print("ok    %s: %s" % (label, check(res)))
                passed += 1
            except CheckFailed as err:
                print("FAIL  %s: %s" % (label, err))
                failed += 1
            except (struct.error, UnicodeDecodeError, zlib.error) as err:
                print("FAIL  %s: malformed resource data (%s)" % (label, err))
                failed += 1
    print("check_resources: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
