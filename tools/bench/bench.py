#!/usr/bin/env python3
"""The launcher's benchmark; tools/bench/run.sh builds what it needs and runs it.

Generates its data under a temporary folder, serves it with nginx on
127.0.0.1, drives real update runs under Wine through bench_run.exe and
prints one table: each launcher figure beside a reference measured in the
same run on the same machine, with the minimum and the median of the
repetitions. Progress goes to standard error, the table to standard output.
"""
import argparse
import datetime
import hashlib
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

KIB = 1024
MIB = 1024 * KIB
GIB = 1024 * MIB

UP_TO_DATE = "Tu cliente esta al dia. Listo para jugar."
NEWS = "Novedades|Benchmark\n"

FULL = {
    "warmSizes": [5000, 20000, 50000],
    "warmReps": 5,
    "repairFiles": 2000,
    "repairBytes": GIB,
    "repairReps": 3,
    "smallFiles": 1000,
    "smallSize": 64 * KIB,
    "largeFiles": 4,
    "largeSize": 64 * MIB,
    "downloadReps": 3,
    "memorySize": 256 * MIB,
    "memoryReps": 3,
}

QUICK = {
    "warmSizes": [1000, 2000, 5000],
    "warmReps": 2,
    "repairFiles": 200,
    "repairBytes": 64 * MIB,
    "repairReps": 1,
    "smallFiles": 100,
    "smallSize": 64 * KIB,
    "largeFiles": 1,
    "largeSize": 16 * MIB,
    "downloadReps": 1,
    "memorySize": 32 * MIB,
    "memoryReps": 1,
}


@dataclass
class Bench:
    root: str = ""
    windowsBuild: str = ""
    nativeBuild: str = ""
    config: dict = field(default_factory=dict)
    temp: str = ""
    www: str = ""
    env: dict = field(default_factory=dict)
    nginx: object = None
    port: int = 0
    pool: bytes = b""
    rows: list = field(default_factory=list)
    downloadPieces: list = field(default_factory=list)


class BenchError(Exception):
    pass


# ---------------------------------------------------------------- helpers

def say(text):
    print(text, file=sys.stderr, flush=True)


def winePath(unixPath):
    return "Z:" + unixPath.replace("/", "\\")


def parseKeys(text):
    values = {}
    for line in text.splitlines():
        if "=" in line:
            key, value = line.split("=", 1)
            values[key.strip()] = value.strip()
    return values


def freePort():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def median(values):
    return statistics.median(values)


def fmtMs(ms):
    if ms is None:
        return "-"
    if ms >= 10000:
        return "%.1f s" % (ms / 1000)
    if ms >= 1000:
        return "%.2f s" % (ms / 1000)
    if ms >= 100:
        return "%.0f ms" % ms
    if ms >= 10:
        return "%.1f ms" % ms
    return "%.2f ms" % ms


def fmtRate(nbytes, ms):
    return "%.0f MB/s" % (nbytes / 1e6 / (ms / 1000))


def fmtMib(kib):
    return "%.0f MiB" % (kib / 1024)


def fmtCount(n):
    return "{:,}".format(n)


def fileContent(pool, index, size, tag):
    """Deterministic bytes: a slice of the random pool after a header of the
    file's own, so that no two files share a digest."""
    header = ("%s:%d:" % (tag, index)).encode()[:size]
    bodySize = size - len(header)
    start = (index * 7919) % (len(pool) - bodySize) if bodySize < len(pool) else 0
    parts = [header]
    while bodySize > 0:
        piece = pool[start:start + bodySize]
        parts.append(piece)
        bodySize -= len(piece)
        start = 0
    return b"".join(parts)


def writeRelease(rootDir, files, pool, tag):
    """files: (relative path with backslashes, size) pairs. Writes them under
    rootDir and returns their manifest text."""
    lines = []
    made = set()
    for index, (path, size) in enumerate(files):
        unixPath = os.path.join(rootDir, path.replace("\\", "/"))
        folder = os.path.dirname(unixPath)
        if folder not in made:
            os.makedirs(folder, exist_ok=True)
            made.add(folder)
        data = fileContent(pool, index, size, tag)
        with open(unixPath, "wb") as f:
            f.write(data)
        lines.append("%s %d %s\n" % (hashlib.sha256(data).hexdigest(), size, path))
    return "".join(lines)


def writeText(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write(text)


def publishDocuments(bench, name, manifest):
    writeText(os.path.join(bench.www, name, "manifest.txt"), manifest)
    writeText(os.path.join(bench.www, name, "news.txt"), NEWS)


# ---------------------------------------------------------------- processes

def runWine(bench, exe, *args):
    """Runs a Windows program of the build in the build's Wine prefix and
    returns its "key=value" lines. The shell passes its own id on: exec keeps
    it through wine-run.sh and Wine's loader, so the program can read its
    own /proc entry."""
    command = ["sh", "-c", 'export BENCH_UNIX_PID=$$; exec "$0" "$@"',
               os.path.join(bench.root, "tools", "wine-run.sh"), exe] + list(args)
    result = subprocess.run(command, cwd=bench.windowsBuild, env=bench.env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise BenchError("%s %s failed (%d):\n%s%s" % (os.path.basename(exe), " ".join(args), result.returncode,
                                                       result.stdout, result.stderr[-2000:]))
    return parseKeys(result.stdout)


def benchRun(bench, *args):
    return runWine(bench, os.path.join(bench.windowsBuild, "tools", "bench", "bench_run.exe"), *args)


def timed(command):
    """Milliseconds of a native command, its output discarded."""
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL)
    elapsed = (time.perf_counter() - start) * 1000
    if result.returncode != 0:
        raise BenchError("%s failed (%d)" % (command[0], result.returncode))
    return elapsed


def updateUrl(bench, name):
    return "http://127.0.0.1:%d/%s/" % (bench.port, name)


def startNginx(bench):
    bench.port = freePort()
    tmp = os.path.join(bench.temp, "nginx-tmp")
    os.makedirs(tmp)
    conf = os.path.join(bench.temp, "nginx.conf")
    writeText(conf, """daemon off;
master_process off;
pid {t}/nginx.pid;
error_log {t}/nginx-error.log;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    default_type application/octet-stream;
    client_body_temp_path {tmp};
    proxy_temp_path {tmp};
    fastcgi_temp_path {tmp};
    uwsgi_temp_path {tmp};
    scgi_temp_path {tmp};
    server {{
        listen 127.0.0.1:{port};
        root {www};
        location / {{ try_files $uri =404; }}
    }}
}}
""".format(t=bench.temp, tmp=tmp, port=bench.port, www=bench.www))
    bench.nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", bench.temp, "-c", conf, "-e",
                                    os.path.join(bench.temp, "nginx-error.log")])
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", bench.port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    raise BenchError("nginx did not start")


def cleanUp(bench):
    if bench.nginx and bench.nginx.poll() is None:
        bench.nginx.terminate()
        try:
            bench.nginx.wait(10)
        except subprocess.TimeoutExpired:
            bench.nginx.kill()
    shutil.rmtree(bench.temp, ignore_errors=True)


# ---------------------------------------------------------------- the table

def addRow(bench, row, measure, values, against="", againstValues=None, ratio="", goal="", whose="launcher",
           show=fmtMs):
    """One line of the table: minimum and median of values and, when given,
    of the reference they are measured against."""
    bench.rows.append([
        row, measure,
        show(min(values)) if values else "", show(median(values)) if values else "",
        against,
        fmtMs(min(againstValues)) if againstValues else "", fmtMs(median(againstValues)) if againstValues else "",
        ratio, goal, whose])


def printTable(bench, header):
    columns = ["Row", "Measure", "Min", "Median", "Against", "Min", "Median", "Ratio (medians)", "Goal",
               "Whose"]
    print()
    print(header)
    print()
    print("| " + " | ".join(columns) + " |")
    print("|" + "|".join("---" for _ in columns) + "|")
    for row in bench.rows:
        print("| " + " | ".join(str(cell) for cell in row) + " |")
    print(flush=True)


def checkRun(values, status):
    if values.get("done") != "1" or values.get("status") != status:
        raise BenchError("unexpected run: %r (wanted %r)" % (values, status))


def collect(into, values):
    for key, value in values.items():
        if key.endswith("_ms"):
            into.setdefault(key, []).append(float(value))


# ---------------------------------------------------------------- 1. warm start

def warmStart(bench):
    config = bench.config
    sizes = config["warmSizes"]
    clients = {}
    for count in sizes:
        say("warm start: writing %s files" % fmtCount(count))
        client = os.path.join(bench.temp, "warm-%d" % count)
        files = [("d%03d\\s%02d\\f%06d.dat" % (i // 1000, (i // 50) % 20, i), 1024 + (i * 37) % 3072)
                 for i in range(count)]
        publishDocuments(bench, "warm-%d" % count, writeRelease(client, files, bench.pool, "w"))
        clients[count] = client
    os.sync()

    perFile = []
    for count in sizes:
        wineClient = winePath(clients[count])
        url = updateUrl(bench, "warm-%d" % count)
        manifest = winePath(os.path.join(bench.www, "warm-%d" % count, "manifest.txt"))
        say("warm start: first run over %s files (fills the cache, untimed)" % fmtCount(count))
        checkRun(benchRun(bench, "run", wineClient, url, "0"), UP_TO_DATE)
        runs, walks, attributes = [], [], []
        for rep in range(config["warmReps"]):
            say("warm start: %s files, repetition %d" % (fmtCount(count), rep + 1))
            walks.append(timed(["find", clients[count], "-type", "f", "-printf", "%s %T@\n"]))
            values = benchRun(bench, "run", wineClient, url, "0")
            checkRun(values, UP_TO_DATE)
            runs.append(float(values["ms"]))
            attributes.append(float(benchRun(bench, "attrs", wineClient, manifest)["ms"]))
        ratio = median(runs) / median(walks)
        goal = "<= 2 x: %s" % ("met" if ratio <= 2 else "missed") if count == sizes[-1] else ""
        addRow(bench, 1, "Warm start, %s files: update run" % fmtCount(count), runs, "stat walk (find)", walks,
               "%.1f x" % ratio, goal)
        addRow(bench, 1, "  Wine's GetFileAttributesExA loop, same %s paths" % fmtCount(count), attributes,
               "stat walk (find)", walks, "%.1f x" % (median(attributes) / median(walks)), "", "platform (Wine)")
        perFile.append([median(runs) * 1000 / count, median(attributes) * 1000 / count,
                        median(walks) * 1000 / count])

    sizesText = " / ".join(fmtCount(c) for c in sizes)
    for index, (name, whose) in enumerate([("update run", "launcher"),
                                           ("Wine's GetFileAttributesExA loop", "platform (Wine)"),
                                           ("stat walk (find)", "native (Linux)")]):
        bench.rows.append([1, "  Per file at %s files (flat = linear): %s" % (sizesText, name), "",
                           " / ".join("%.1f us" % figures[index] for figures in perFile), "", "", "", "", "",
                           whose])

    # The largest warm start taken apart with the engine's own functions.
    largest = sizes[-1]
    pieces = {}
    for rep in range(config["warmReps"]):
        say("warm start: pieces, repetition %d" % (rep + 1))
        collect(pieces, benchRun(bench, "pieces", winePath(clients[largest]), updateUrl(bench, "warm-%d" % largest)))
    for key, name in [("fetch_ms", "manifest and news fetch (WinINet)"), ("cache_load_ms", "cache load"),
                      ("parse_ms", "manifest parse and repeat check"),
                      ("check_ms", "per-file check (GetFileAttributesExA, cache lookup)"),
                      ("report_ms", "progress reports (2 posted messages every 20 files)"),
                      ("cache_save_ms", "cache save")]:
        addRow(bench, 1, "  Piece, %s files: %s" % (fmtCount(largest), name), pieces[key], whose="launcher piece")

    # What the reports' posted messages cost Wine alone: two every 20 files.
    posts = []
    postCount = 2 * ((largest + 19) // 20)
    for _ in range(config["warmReps"]):
        posts.append(float(benchRun(bench, "posts", str(postCount))["ms"]))
    addRow(bench, 1, "  Wine's PostMessageA alone, the same %s posts" % fmtCount(postCount), posts,
           whose="platform (Wine)")

    # The same rules natively, without Wine or sanitizers.
    native = {}
    cacheFile = os.path.join(bench.temp, "native.cache")
    for _ in range(config["warmReps"]):
        result = subprocess.run([os.path.join(bench.nativeBuild, "tools", "bench", "bench_manifest"), str(largest),
                                 cacheFile], stdout=subprocess.PIPE, text=True, check=True)
        collect(native, parseKeys(result.stdout))
    for key, name in [("lookup_ms", "manifest parse and cache lookups"), ("cache_load_ms", "cache load"),
                      ("cache_save_ms", "cache save")]:
        addRow(bench, 1, "  Same rules natively (Linux, no Wine), %s lines: %s" % (fmtCount(largest), name),
               native[key], whose="launcher rules, native")
    for client in clients.values():
        shutil.rmtree(client, ignore_errors=True)


# ---------------------------------------------------------------- 2. repair

def repair(bench):
    config = bench.config
    count, total = config["repairFiles"], config["repairBytes"]
    say("repair: writing %s files, %d MiB" % (fmtCount(count), total // MIB))
    base = total // count
    sizes = [base + (((i * 7) % 9) - 4) * 1024 for i in range(count)]
    sizes[-1] += total - sum(sizes)
    client = os.path.join(bench.temp, "repair")
    files = [("r%02d\\f%05d.bin" % (i // 100, i), sizes[i]) for i in range(count)]
    publishDocuments(bench, "repair", writeRelease(client, files, bench.pool, "r"))
    single = os.path.join(bench.temp, "single.bin")
    with open(single, "wb") as f:
        written = 0
        while written < total:
            piece = bench.pool[:total - written]
            f.write(piece)
            written += len(piece)
    os.sync()

    paths = [os.path.join(client, p.replace("\\", "/")) for p, _ in files]
    manifest = winePath(os.path.join(bench.www, "repair", "manifest.txt"))
    runs, hashes, opens, nativeMany, nativeOne = [], [], [], [], []
    for rep in range(config["repairReps"]):
        say("repair: repetition %d" % (rep + 1))
        values = benchRun(bench, "run", winePath(client), updateUrl(bench, "repair"), "1")
        checkRun(values, UP_TO_DATE)
        runs.append(float(values["ms"]))
        hashes.append(float(benchRun(bench, "hash", winePath(single))["ms"]))
        opens.append(float(benchRun(bench, "opens", winePath(client), manifest)["ms"]))
        nativeMany.append(timed(["sha256sum"] + paths))
        nativeOne.append(timed(["sha256sum", single]))
    share = median(hashes) / median(runs)
    size = "%d MiB" % (total // MIB)
    addRow(bench, 2, "Repair (full verification), %s files, %s: update run" % (fmtCount(count), size), runs,
           "fileSha256Hex on one %s file" % size, hashes, "%.2f of its MB/s" % share,
           ">= 0.9: %s" % ("met" if share >= 0.9 else "missed"))
    bench.rows.append([2, "  Throughput: update run / fileSha256Hex on one file", "",
                       "%s / %s" % (fmtRate(total, median(runs)), fmtRate(total, median(hashes))), "", "", "", "",
                       "", "launcher / platform (Wine)"])
    addRow(bench, 2, "  Wine's CreateFileA, first 4 KiB ReadFile, CloseHandle alone, the same %s files" % fmtCount(count), opens,
           whose="platform (Wine)")
    addRow(bench, 2, "  sha256sum over the same %s files (%s)" % (fmtCount(count), fmtRate(total, median(nativeMany))),
           nativeMany, "fileSha256Hex, one file", hashes,
           "Wine %.1f x slower" % (median(hashes) / median(nativeMany)), "", "native (Linux)")
    addRow(bench, 2, "  sha256sum on the one %s file (%s)" % (size, fmtRate(total, median(nativeOne))), nativeOne,
           whose="native (Linux)")
    shutil.rmtree(client, ignore_errors=True)
    os.remove(single)


# ---------------------------------------------------------------- 3. downloads

def downloads(bench):
    config = bench.config
    filesDir = os.path.join(bench.www, "files")
    say("downloads: writing the server's files")
    small = [("small\\d%02d\\f%04d.bin" % (i // 50, i), config["smallSize"]) for i in range(config["smallFiles"])]
    large = [("large\\big%d.bin" % i, config["largeSize"]) for i in range(config["largeFiles"])]
    smallManifest = writeRelease(filesDir, small, bench.pool, "s")
    largeManifest = writeRelease(filesDir, large, bench.pool, "l")
    sets = [
        ("dl-small", "%s x %d KiB" % (fmtCount(len(small)), config["smallSize"] // KIB), small, smallManifest),
        ("dl-large", "%d x %d MiB" % (len(large), config["largeSize"] // MIB), large, largeManifest),
        ("dl-all", "both sets, %s files" % fmtCount(len(small) + len(large)), small + large,
         smallManifest + largeManifest),
    ]
    for name, _, _, manifest in sets:
        for part in ("small", "large"):
            os.makedirs(os.path.join(bench.www, name), exist_ok=True)
            os.symlink(os.path.join(filesDir, part), os.path.join(bench.www, name, part))
        publishDocuments(bench, name, manifest)
    os.sync()

    bareExe = os.path.join(bench.windowsBuild, "tools", "bench", "bare_wininet.exe")
    client = os.path.join(bench.temp, "dl-client")
    bareOut = os.path.join(bench.temp, "bare-out")
    curlOut = os.path.join(bench.temp, "curl-out")
    for name, label, files, _ in sets:
        urlPaths = [p.replace("\\", "/") for p, _ in files]
        listFile = os.path.join(bench.temp, name + ".list")
        writeText(listFile, "".join(p + "\n" for p in urlPaths))
        curlConfig = os.path.join(bench.temp, name + ".curl")
        writeText(curlConfig, "".join('url = "%s%s"\noutput = "%s/f%d"\n' % (updateUrl(bench, name), p, curlOut, i)
                                      for i, p in enumerate(urlPaths)))
        runs, bares, curls = [], [], []
        for rep in range(config["downloadReps"]):
            say("downloads: %s, repetition %d" % (label, rep + 1))
            os.makedirs(client)
            values = benchRun(bench, "run", winePath(client), updateUrl(bench, name), "0")
            checkRun(values, "Actualizado: %d archivo(s). Listo para jugar." % len(files))
            runs.append(float(values["ms"]))
            shutil.rmtree(client)
            os.makedirs(bareOut)
            bares.append(float(runWine(bench, bareExe, updateUrl(bench, name), winePath(listFile),
                                       winePath(bareOut))["ms"]))
            shutil.rmtree(bareOut)
            os.makedirs(curlOut)
            curls.append(timed(["curl", "--parallel", "--parallel-max", "8", "-sS", "--fail", "-K", curlConfig]))
            shutil.rmtree(curlOut)
        ratio = median(runs) / median(bares)
        addRow(bench, 3, "Downloads, %s: update run" % label, runs, "bare WinINet, 8 threads", bares,
               "%.2f x" % ratio, "<= 1.1 x: %s" % ("met" if ratio <= 1.1 else "missed"))
        addRow(bench, 3, "  curl --parallel-max 8, same URLs", curls, "bare WinINet, 8 threads", bares,
               "WinINet %.1f x slower" % (median(bares) / median(curls)), "", "native (Linux)")
        if name == "dl-all":
            continue
        pieces = {}
        for rep in range(config["downloadReps"]):
            say("downloads: %s, pieces on one thread, repetition %d" % (label, rep + 1))
            os.makedirs(client)
            collect(pieces, benchRun(bench, "downloadpieces", winePath(client), updateUrl(bench, name)))
            shutil.rmtree(client)
        bench.downloadPieces.append((label, pieces))

    for label, pieces in bench.downloadPieces:
        total = sum(median(v) for v in pieces.values())
        for key, name in [("fetch_ms", "httpFetch (WinINet)"), ("folders_ms", "folders"),
                          ("write_ms", "write .part"), ("digest_ms", "fileSha256Hex of .part"),
                          ("move_ms", "move over target")]:
            addRow(bench, 3, "  Piece, %s, one thread: %s (%.0f%%)" % (label, name, 100 * median(pieces[key]) / total),
                   pieces[key], whose="platform (Wine)" if key == "fetch_ms" else "launcher piece")
    shutil.rmtree(filesDir, ignore_errors=True)


# ---------------------------------------------------------------- 4. memory

def memory(bench):
    config = bench.config
    size = config["memorySize"]
    say("memory: writing one %d MiB file" % (size // MIB))
    publishDocuments(bench, "mem", writeRelease(os.path.join(bench.www, "mem"), [("big.bin", size)], bench.pool, "m"))
    os.sync()
    peaks, highWaterMarks = [], []
    client = os.path.join(bench.temp, "mem-client")
    for rep in range(config["memoryReps"]):
        say("memory: repetition %d" % (rep + 1))
        os.makedirs(client)
        values = benchRun(bench, "run", winePath(client), updateUrl(bench, "mem"), "0")
        checkRun(values, "Actualizado: 1 archivo(s). Listo para jugar.")
        peaks.append(float(values["peak_working_set_kib"]))
        if "vm_hwm_kib" in values:
            highWaterMarks.append(float(values["vm_hwm_kib"]))
        shutil.rmtree(client)
    limitKib = (2.1 * size + 32 * MIB) / KIB
    peak = median(peaks)
    addRow(bench, 4, "Memory, one %d MiB download: peak working set" % (size // MIB), peaks, "file size", None,
           "%.2f x size" % (peak * KIB / size),
           "<= 2.1 x + 32 MiB = %s: %s" % (fmtMib(limitKib), "met" if peak <= limitKib else "missed"), show=fmtMib)
    if highWaterMarks:
        addRow(bench, 4, "  Same process seen by Linux (VmHWM)", highWaterMarks, "file size", None,
               "%.2f x size" % (median(highWaterMarks) * KIB / size), "", "cross-check", show=fmtMib)
    shutil.rmtree(os.path.join(bench.www, "mem"), ignore_errors=True)


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer files and repetitions, for development")
    parser.add_argument("--root", required=True)
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--temp-parent", default=tempfile.gettempdir())
    parser.add_argument("--only", default="warm,repair,downloads,memory", help="comma-separated rows to run")
    args = parser.parse_args()
    config = QUICK if args.quick else FULL

    needed = 512 * MIB if args.quick else 5 * GIB
    free = shutil.disk_usage(args.temp_parent).free
    if free < needed:
        sys.exit("bench: %d MiB free under %s, %d MiB needed" % (free // MIB, args.temp_parent, needed // MIB))

    wineVersion = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    nproc = subprocess.run(["nproc"], stdout=subprocess.PIPE, text=True).stdout.strip()
    header = "Orvel Launcher benchmark, %s, nproc %s, %s%s; minimum and median of %d (warm start), %d (repair), " \
             "%d (downloads), %d (memory) repetitions" % (
                 datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), nproc, wineVersion,
                 ", --quick" if args.quick else "", config["warmReps"], config["repairReps"],
                 config["downloadReps"], config["memoryReps"])

    bench = Bench(root=args.root, windowsBuild=args.windows_build, nativeBuild=args.native_build, config=config)
    bench.temp = tempfile.mkdtemp(prefix="orvel-bench-", dir=args.temp_parent)
    bench.www = os.path.join(bench.temp, "www")
    os.makedirs(bench.www)
    bench.env = dict(os.environ)
    bench.env.setdefault("WINEPREFIX", os.path.join(args.windows_build, "wineprefix"))
    bench.pool = random.Random(1).randbytes(64 * MIB)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        startNginx(bench)
        parts = args.only.split(",")
        for name, step in [("warm", warmStart), ("repair", repair), ("downloads", downloads), ("memory", memory)]:
            if name in parts:
                step(bench)
        printTable(bench, header)
    except BenchError as error:
        sys.exit("bench: %s" % error)
    finally:
        cleanUp(bench)


if __name__ == "__main__":
    main()
