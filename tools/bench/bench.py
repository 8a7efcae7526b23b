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
import resource
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
UPDATED = "Actualizado: %d archivo(s). Listo para jugar."
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
    "memorySizes": [512 * MIB, 4 * GIB + MIB],
    "memoryReps": 3,
    # A 4 GiB client: archives of these MiB and small files; 1% of its bytes
    # change in 16 regions over the archives that "deltaRegions" names (archive
    # index, regions), the last region an insertion.
    "deltaArchives": [1024, 768, 512, 512, 384, 256],
    "deltaSmall": (2560, 256 * KIB),
    "deltaRegions": [(0, 5), (1, 4), (2, 4), (4, 3)],
    "deltaReps": 3,
    "freeNeeded": 14 * GIB,
}

QUICK = {
    "warmSizes": [1000, 2000, 5000],
    "warmReps": 2,
    "repairFiles": 200,
    "repairBytes": 64 * MIB,
    "repairReps": 1,
    "smallFiles": 100,
    "smallSize": 64 * KIB,
    "largeFiles": 2,
    "largeSize": 16 * MIB,
    "downloadReps": 1,
    "memorySizes": [32 * MIB, 64 * MIB + MIB],
    "memoryReps": 1,
    "deltaArchives": [64, 48, 32, 32, 24, 16],
    "deltaSmall": (160, 64 * KIB),
    "deltaRegions": [(0, 5), (1, 4), (2, 4), (4, 3)],
    "deltaReps": 1,
    "freeNeeded": GIB,
}

MEMORY_GOAL_KIB = 64 * KIB
SLOW_RATE = 12500000  # bytes a second a connection: 100 Mbit/s
WRITE_CHUNK = 8 * MIB


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
    slowPort: int = 0
    cores: int = 1
    rows: list = field(default_factory=list)


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
    return "%.1f MiB" % (kib / 1024)


def fmtCount(n):
    return "{:,}".format(n)


def fmtSize(nbytes):
    if nbytes >= GIB and nbytes % GIB == 0:
        return "%d GiB" % (nbytes // GIB)
    if nbytes >= GIB:
        return "%d GiB + %d MiB" % (nbytes // GIB, nbytes % GIB // MIB)
    if nbytes >= MIB:
        return "%d MiB" % (nbytes // MIB)
    return "%d KiB" % (nbytes // KIB)


def fileChunks(pool, index, size, tag):
    """Deterministic bytes in pieces: a header of the file's own, so that no
    two files share a digest, then slices of the random pool."""
    header = ("%s:%d:" % (tag, index)).encode()[:size]
    yield header
    left = size - len(header)
    start = (index * 7919) % (len(pool) - left) if left < len(pool) else 0
    view = memoryview(pool)
    while left > 0:
        piece = view[start:start + min(left, WRITE_CHUNK)]
        yield piece
        left -= len(piece)
        start = (start + len(piece)) % len(pool)


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
        digest = hashlib.sha256()
        with open(unixPath, "wb") as f:
            for chunk in fileChunks(pool, index, size, tag):
                f.write(chunk)
                digest.update(chunk)
        lines.append("%s %d %s\n" % (digest.hexdigest(), size, path))
    return "".join(lines)


def writeText(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write(text)


def publishDocuments(bench, name, manifest):
    writeText(os.path.join(bench.www, name, "manifest.txt"), manifest)
    writeText(os.path.join(bench.www, name, "news.txt"), NEWS)


def serverManifest(bench, name):
    return winePath(os.path.join(bench.www, name, "manifest.txt"))


def requireFree(bench, nbytes):
    free = shutil.disk_usage(bench.temp).free
    if free < nbytes:
        raise BenchError("%d MiB free under %s, %d MiB needed" % (free // MIB, bench.temp, nbytes // MIB))


# ---------------------------------------------------------------- processes

def childCpuMs():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (usage.ru_utime + usage.ru_stime) * 1000


def runWine(bench, exe, *args):
    """Runs a Windows program of the build in the build's Wine prefix and
    returns its "key=value" lines, with cpu_ms: the CPU time of its process
    as Linux counts it (the Wine server's share not included). The shell
    passes its own id on: exec keeps it through wine-run.sh and Wine's
    loader, so the program can read its own /proc entry."""
    command = ["sh", "-c", 'export BENCH_UNIX_PID=$$; exec "$0" "$@"',
               os.path.join(bench.root, "tools", "wine-run.sh"), exe] + list(args)
    cpuBefore = childCpuMs()
    result = subprocess.run(command, cwd=bench.windowsBuild, env=bench.env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise BenchError("%s %s failed (%d):\n%s%s" % (os.path.basename(exe), " ".join(args), result.returncode,
                                                       result.stdout, result.stderr[-2000:]))
    values = parseKeys(result.stdout)
    values["cpu_ms"] = str(childCpuMs() - cpuBefore)
    return values


def benchRun(bench, *args):
    return runWine(bench, os.path.join(bench.windowsBuild, "tools", "bench", "bench_run.exe"), *args)


def ms(values):
    return float(values["ms"])


def timed(*commands):
    """Milliseconds of native commands run side by side, their output discarded."""
    start = time.perf_counter()
    processes = [subprocess.Popen(command, stdout=subprocess.DEVNULL) for command in commands]
    codes = [process.wait() for process in processes]
    elapsed = (time.perf_counter() - start) * 1000
    if any(codes):
        raise BenchError("%s failed (%r)" % (commands[0][0], codes))
    return elapsed


def updateUrl(bench, name, slow=False):
    return "http://127.0.0.1:%d/%s/" % (bench.slowPort if slow else bench.port, name)


def startNginx(bench):
    bench.port, bench.slowPort = freePort(), freePort()
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
    log_format delta '$uri $status $body_bytes_sent "$http_range"';
    server {{
        listen 127.0.0.1:{port};
        root {www};
        location / {{ try_files $uri =404; }}
        location /delta {{ access_log {t}/delta-access.log delta; try_files $uri =404; }}
    }}
    # 100 Mbit/s a connection, as a server or a player's line may give.
    server {{
        listen 127.0.0.1:{slowPort};
        root {www};
        limit_rate {rate};
        location / {{ access_log {t}/delta-access.log delta; try_files $uri =404; }}
    }}
}}
""".format(t=bench.temp, tmp=tmp, port=bench.port, slowPort=bench.slowPort, rate=SLOW_RATE, www=bench.www))
    bench.nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", bench.temp, "-c", conf, "-e",
                                    os.path.join(bench.temp, "nginx-error.log")])
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
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


# ---------------------------------------------------------------- the machine

def busyCoreSeconds():
    """CPU time the whole machine has spent busy, in core-seconds."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    user, nice, system, _idle, _iowait, irq, softirq = fields[:7]
    return (user + nice + system + irq + softirq) / os.sysconf("SC_CLK_TCK")


def processCpuSeconds(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def wineServerPid(prefix):
    """The Wine server of prefix: it works in a folder named after the
    prefix's device and inode."""
    info = os.stat(prefix)
    serverDir = "/tmp/.wine-%d/server-%x-%x" % (os.getuid(), info.st_dev, info.st_ino)
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/cwd" % entry) == serverDir:
                    return int(entry)
            except OSError:
                pass
    return 0


def ownCpuSeconds(bench):
    """This benchmark's CPU time: its own, its children's (the Windows
    programs and native commands), nginx's and the Wine server's."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    total = usage.ru_utime + usage.ru_stime + childCpuMs() / 1000
    for pid in (bench.nginx.pid if bench.nginx else 0, wineServerPid(bench.env["WINEPREFIX"])):
        if pid:
            total += processCpuSeconds(pid)
    return total


# ---------------------------------------------------------------- the table

def addRow(bench, row, measure, values, against="", againstValues=None, ratio="", goal="", whose="launcher",
           show=fmtMs):
    """One line of the table: minimum and median of values and, when given,
    of the reference they are measured against."""
    bench.rows.append([
        row, measure,
        show(min(values)) if values else "", show(median(values)) if values else "",
        against,
        show(min(againstValues)) if againstValues else "", show(median(againstValues)) if againstValues else "",
        ratio, goal, whose])


def addMedians(bench, row, measure, text, whose):
    """A line that shows medians side by side in its Median cell."""
    bench.rows.append([row, measure, "", text, "", "", "", "", "", whose])


def goalText(limit, value, atMost=True):
    met = value <= limit if atMost else value >= limit
    return "%s %s: %s" % ("<=" if atMost else ">=", limit, "met" if met else "missed")


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
        if key.endswith("_ms") or key.endswith("_messages"):
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
        manifest = serverManifest(bench, "warm-%d" % count)
        say("warm start: first run over %s files (fills the cache, untimed)" % fmtCount(count))
        checkRun(benchRun(bench, "run", wineClient, url, "0"), UP_TO_DATE)
        runs, attributes, listings, walks = [], [], [], []
        for rep in range(config["warmReps"]):
            say("warm start: %s files, repetition %d" % (fmtCount(count), rep + 1))
            values = benchRun(bench, "run", wineClient, url, "0")
            checkRun(values, UP_TO_DATE)
            runs.append(ms(values))
            attributes.append(ms(benchRun(bench, "attrs", wineClient, manifest)))
            listing = benchRun(bench, "listings", wineClient, manifest)
            listings.append(ms(listing))
            walks.append(timed(["find", clients[count], "-type", "f", "-printf", "%s %T@\n"]))
        ratio = median(runs) / median(attributes)
        addRow(bench, 1, "Warm start, %s files: update run" % fmtCount(count), runs,
               "Wine's GetFileAttributesExA loop, same paths", attributes, "%.2f x" % ratio,
               goalText(1.3, round(ratio, 2)) if count == sizes[-1] else "")
        perFile.append([median(v) * 1000 / count for v in (runs, attributes, listings, walks)])
    folders = int(listing["queries"])

    sizesText = " / ".join(fmtCount(c) for c in sizes)
    for index, (name, whose) in enumerate([("update run", "launcher"),
                                           ("Wine's GetFileAttributesExA loop", "platform (Wine)"),
                                           ("Wine's folder listings (FindFirstFileExA)", "platform (Wine)"),
                                           ("stat walk (find)", "native (Linux)")]):
        addMedians(bench, 1, "  Per file at %s files (flat = linear): %s" % (sizesText, name),
                   " / ".join("%.1f us" % figures[index] for figures in perFile), whose)
    addRow(bench, 1, "  Wine's folder listings alone, the same %s folders" % fmtCount(folders), listings,
           "Wine's GetFileAttributesExA loop, same paths", attributes,
           "%.2f x" % (median(listings) / median(attributes)), "", "platform (Wine)")
    addRow(bench, 1, "  stat walk (find), same files", walks, "Wine's GetFileAttributesExA loop, same paths",
           attributes, "Wine %.1f x slower" % (median(attributes) / median(walks)), "", "native (Linux)")

    # The largest warm start taken apart with the engine's own functions.
    largest = sizes[-1]
    pieces = {}
    for rep in range(config["warmReps"]):
        say("warm start: pieces, repetition %d" % (rep + 1))
        collect(pieces, benchRun(bench, "pieces", winePath(clients[largest]), updateUrl(bench, "warm-%d" % largest)))
    messages = median(pieces["status_messages"])
    for key, name in [("fetch_ms", "manifest and news fetch (WinINet)"), ("cache_load_ms", "cache load"),
                      ("check_ms", "check: listings, lines, cache lookups, %.0f status messages taken" % messages),
                      ("cache_save_ms", "cache save")]:
        addRow(bench, 1, "  Piece, %s files: %s" % (fmtCount(largest), name), pieces[key], whose="launcher piece")

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
    requireFree(bench, 2 * total + GIB)
    say("repair: writing %s files, %s" % (fmtCount(count), fmtSize(total)))
    base = total // count
    sizes = [base + (((i * 7) % 9) - 4) * 1024 for i in range(count)]
    sizes[-1] += total - sum(sizes)
    client = os.path.join(bench.temp, "repair")
    files = [("r%02d\\f%05d.bin" % (i // 100, i), sizes[i]) for i in range(count)]
    publishDocuments(bench, "repair", writeRelease(client, files, bench.pool, "r"))
    single = os.path.join(bench.temp, "single.bin")
    writeRelease(bench.temp, [("single.bin", total)], bench.pool, "one")
    os.sync()

    paths = [os.path.join(client, p.replace("\\", "/")) for p, _ in files]
    halves = [paths[:count // 2], paths[count // 2:]]
    manifest = serverManifest(bench, "repair")
    runs, hashes, parallel, serial, nativeMany, nativeOne = [], [], [], [], [], []
    for rep in range(config["repairReps"]):
        say("repair: repetition %d" % (rep + 1))
        values = benchRun(bench, "run", winePath(client), updateUrl(bench, "repair"), "1")
        checkRun(values, UP_TO_DATE)
        runs.append(ms(values))
        hashes.append(ms(benchRun(bench, "hash", winePath(single))))
        parallel.append(ms(benchRun(bench, "hashfiles", winePath(client), manifest, str(bench.cores))))
        serial.append(ms(benchRun(bench, "hashfiles", winePath(client), manifest, "1")))
        nativeMany.append(timed(*[["sha256sum"] + half for half in halves]))
        nativeOne.append(timed(["sha256sum", single]))
    size = fmtSize(total)
    against = "fileSha256Hex on one %s file" % size
    share = median(hashes) / median(runs)
    addRow(bench, 2, "Repair (full verification), %s files, %s: update run" % (fmtCount(count), size), runs,
           against, hashes, "%.2f x its MB/s" % share, goalText(1.6, round(share, 2), atMost=False))
    addMedians(bench, 2, "  Throughput: update run / fileSha256Hex on one file",
               "%s / %s" % (fmtRate(total, median(runs)), fmtRate(total, median(hashes))),
               "launcher / platform (Wine)")
    for values, threads in [(parallel, bench.cores), (serial, 1)]:
        addRow(bench, 2, "  fileSha256Hex of the same %s files on %d thread%s, nothing else (%s)" % (
            fmtCount(count), threads, "s" if threads > 1 else "", fmtRate(total, median(values))), values,
               against, hashes, "%.2f x its MB/s" % (median(hashes) / median(values)), "", "platform (Wine)")
    addRow(bench, 2, "  sha256sum, 2 processes over the same %s files (%s)" % (
        fmtCount(count), fmtRate(total, median(nativeMany))), nativeMany, against, hashes,
           "%.2f x its MB/s" % (median(hashes) / median(nativeMany)), "", "native (Linux)")
    addRow(bench, 2, "  sha256sum on the one %s file (%s)" % (size, fmtRate(total, median(nativeOne))), nativeOne,
           against, hashes, "Wine %.1f x slower" % (median(hashes) / median(nativeOne)), "", "native (Linux)")
    shutil.rmtree(client, ignore_errors=True)
    os.remove(single)


# ---------------------------------------------------------------- 3. downloads

def downloads(bench):
    config = bench.config
    filesDir = os.path.join(bench.www, "files")
    small = [("small\\d%02d\\f%04d.bin" % (i // 50, i), config["smallSize"]) for i in range(config["smallFiles"])]
    large = [("large\\big%d.bin" % i, config["largeSize"]) for i in range(config["largeFiles"])]
    requireFree(bench, 3 * sum(size for _, size in small + large) + GIB)
    say("downloads: writing the server's files")
    smallManifest = writeRelease(filesDir, small, bench.pool, "s")
    largeManifest = writeRelease(filesDir, large, bench.pool, "l")
    sets = [
        ("dl-small", "%s x %s" % (fmtCount(len(small)), fmtSize(config["smallSize"])), small, smallManifest),
        ("dl-large", "%d x %s" % (len(large), fmtSize(config["largeSize"])), large, largeManifest),
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
        runs, bares, curls, runCpu, bareCpu = [], [], [], [], []
        for rep in range(config["downloadReps"]):
            say("downloads: %s, repetition %d" % (label, rep + 1))
            os.makedirs(client)
            values = benchRun(bench, "run", winePath(client), updateUrl(bench, name), "0")
            checkRun(values, UPDATED % len(files))
            runs.append(ms(values))
            runCpu.append(float(values["cpu_ms"]))
            shutil.rmtree(client)
            os.makedirs(bareOut)
            values = runWine(bench, bareExe, updateUrl(bench, name), winePath(listFile), winePath(bareOut))
            bares.append(ms(values))
            bareCpu.append(float(values["cpu_ms"]))
            shutil.rmtree(bareOut)
            os.makedirs(curlOut)
            curls.append(timed(["curl", "--parallel", "--parallel-max", "8", "--no-progress-meter", "--fail", "-K",
                                curlConfig]))
            shutil.rmtree(curlOut)
        ratio = median(runs) / median(bares)
        addRow(bench, 3, "Downloads, %s: update run" % label, runs, "bare WinINet, 8 threads", bares,
               "%.2f x" % ratio, goalText(1.1, round(ratio, 2)))
        addRow(bench, 3, "  curl --parallel-max 8, same URLs", curls, "bare WinINet, 8 threads", bares,
               "WinINet %.1f x slower" % (median(bares) / median(curls)), "", "native (Linux)")
        addMedians(bench, 3, "  CPU time of the Windows process (Wine server not counted): update run / bare WinINet",
                   "%s / %s" % (fmtMs(median(runCpu)), fmtMs(median(bareCpu))), "launcher / platform (Wine)")
    for name, label, files, _ in sets[:2]:
        downloadPieces(bench, name, label, files, client)
    shutil.rmtree(filesDir, ignore_errors=True)


def downloadPieces(bench, name, label, files, client):
    """What a download does, each on its own on one thread: the transfers
    through the engine's HTTP calls (bytes dropped) and, for comparison, with
    whole-buffer reads; the .part files written in pieces of the size the
    reads brought and moved over their targets; SHA-256 of as many bytes in
    memory in the same pieces, also on one thread per core."""
    config = bench.config
    manifest = serverManifest(bench, name)
    size = files[0][1]
    pieces = {"transfers": [], "whole": [], "writes": [], "hash": [], "hashCores": []}
    for rep in range(config["downloadReps"]):
        say("downloads: %s, pieces, repetition %d" % (label, rep + 1))
        values = benchRun(bench, "transfers", updateUrl(bench, name), manifest, "0")
        pieces["transfers"].append(ms(values))
        readSize = str(size * len(files) // max(int(values["reads"]), 1))
        pieces["whole"].append(ms(benchRun(bench, "transfers", updateUrl(bench, name), manifest, "1")))
        os.makedirs(client)
        pieces["writes"].append(ms(benchRun(bench, "writes", winePath(client), manifest, readSize)))
        shutil.rmtree(client)
        pieces["hash"].append(ms(benchRun(bench, "hashmemory", str(len(files)), str(size), readSize, "1")))
        pieces["hashCores"].append(ms(benchRun(bench, "hashmemory", str(len(files)), str(size), readSize,
                                               str(bench.cores))))
    total = sum(median(pieces[key]) for key in ("transfers", "writes", "hash"))
    piece = fmtSize(int(readSize))
    for key, text, whose in [
            ("transfers", "transfers through httpSend/httpRead, %s a read, bytes dropped" % piece, "launcher piece"),
            ("writes", ".part files written %s at a time and moved over (file system)" % piece, "launcher piece"),
            ("hash", "SHA-256 of as many bytes in memory, %s at a time (BCrypt)" % piece, "launcher piece")]:
        addRow(bench, 3, "  Piece, %s, one thread: %s (%.0f%%)" % (label, text, 100 * median(pieces[key]) / total),
               pieces[key], whose=whose)
    addRow(bench, 3, "    the same transfers read by InternetReadFile into whole 256 KiB buffers", pieces["whole"],
           "httpSend/httpRead", pieces["transfers"],
           "%.2f x its time" % (median(pieces["whole"]) / median(pieces["transfers"])), whose="platform (Wine)")
    addRow(bench, 3, "    the same SHA-256 on %d threads" % bench.cores, pieces["hashCores"], "one thread",
           pieces["hash"], "%.2f x its time" % (median(pieces["hashCores"]) / median(pieces["hash"])),
           whose="platform (Wine)")


# ---------------------------------------------------------------- 4. memory

def memory(bench):
    config = bench.config
    client = os.path.join(bench.temp, "mem-client")
    serverDir = os.path.join(bench.www, "mem")
    for size in config["memorySizes"]:
        requireFree(bench, 2 * size + GIB)
        say("memory: writing one %s file" % fmtSize(size))
        publishDocuments(bench, "mem", writeRelease(serverDir, [("big.bin", size)], bench.pool, "m"))
        os.sync()
        peaks, highWaterMarks = [], []
        for rep in range(config["memoryReps"]):
            say("memory: %s, repetition %d" % (fmtSize(size), rep + 1))
            os.makedirs(client)
            values = benchRun(bench, "run", winePath(client), updateUrl(bench, "mem"), "0")
            checkRun(values, UPDATED % 1)
            if os.path.getsize(os.path.join(client, "big.bin")) != size:
                raise BenchError("the downloaded file does not have its size")
            peaks.append(float(values["peak_working_set_kib"]))
            if "vm_hwm_kib" in values:
                highWaterMarks.append(float(values["vm_hwm_kib"]))
            shutil.rmtree(client)
        addRow(bench, 4, "Memory, one %s download: peak working set" % fmtSize(size), peaks,
               goal="<= %s: %s" % (fmtMib(MEMORY_GOAL_KIB), "met" if median(peaks) <= MEMORY_GOAL_KIB else "missed"),
               show=fmtMib)
        if highWaterMarks:
            addRow(bench, 4, "  Same process seen by Linux (VmHWM)", highWaterMarks, whose="cross-check",
                   show=fmtMib)
        shutil.rmtree(serverDir, ignore_errors=True)


# ---------------------------------------------------------------- 5. deltas

def fmtBytes(nbytes):
    return "%.2f MiB" % (nbytes / MIB) if nbytes >= MIB else "%.0f KiB" % (nbytes / KIB)


def randomFile(path, size, key):
    """size bytes of an AES-CTR key stream: like compressed archives, never repeating, quick to make."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["sh", "-c", 'openssl enc -aes-128-ctr -nosalt -K %032x -iv 0 -in /dev/zero 2>/dev/null | '
                    'head -c %d >"$0"' % (key, size), path], check=True)
    if os.path.getsize(path) != size:
        raise BenchError("could not write %s" % path)


def copyBytes(source, target, count):
    while count > 0:
        piece = source.read(min(count, WRITE_CHUNK))
        if not piece:
            raise BenchError("a file ended early")
        target.write(piece)
        count -= len(piece)


def writeEdited(oldPath, newPath, edits):
    """The old file with edits, (offset, insert, bytes) by rising offset: the bytes put over the old
    ones at offset, or put in before it."""
    os.makedirs(os.path.dirname(newPath), exist_ok=True)
    with open(oldPath, "rb") as source, open(newPath, "wb") as target:
        for offset, insert, data in edits:
            copyBytes(source, target, offset - source.tell())
            target.write(data)
            if not insert:
                source.seek(len(data), os.SEEK_CUR)
        copyBytes(source, target, os.path.getsize(oldPath) - source.tell())


def deltaClient(bench, old, new):
    """Writes the old client and the new one (links of the unchanged files); returns the paths
    (backslashes) of the changed archives and the client's size."""
    config = bench.config
    archives = ["data\\archive%d.pak" % i for i in range(len(config["deltaArchives"]))]
    smallCount, smallSize = config["deltaSmall"]
    small = [("data\\small\\d%02d\\f%04d.bin" % (i // 100, i), smallSize) for i in range(smallCount)]
    total = sum(config["deltaArchives"]) * MIB + smallCount * smallSize
    for i, size in enumerate(config["deltaArchives"]):
        randomFile(os.path.join(old, archives[i].replace("\\", "/")), size * MIB, 0x5eed0000 + i)
    writeRelease(old, small, bench.pool, "d")
    regions = sum(count for _, count in config["deltaRegions"])
    region = total // 100 // regions
    changed, made = [], 0
    for index, count in config["deltaRegions"]:
        path = archives[index]
        size = config["deltaArchives"][index] * MIB
        edits = []
        for r in range(count):
            made += 1
            data = random.Random(1000 + made).randbytes(region)
            edits.append((size * (r + 1) // (count + 1) + 12345 * made, made == regions, data))
        writeEdited(os.path.join(old, path.replace("\\", "/")), os.path.join(new, path.replace("\\", "/")), edits)
        changed.append(path)
    for path, _ in [(a, 0) for a in archives] + small:
        target = os.path.join(new, path.replace("\\", "/"))
        if not os.path.exists(target):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            os.link(os.path.join(old, path.replace("\\", "/")), target)
    return changed, total


def manifestLines(text):
    """{path: (digest, size)} of a manifest's file lines."""
    lines = {}
    for line in text.splitlines():
        fields = line.split(" ", 2)
        if len(fields) == 3 and len(fields[0]) == 64:
            lines[fields[2]] = (fields[0], int(fields[1]))
    return lines


def loggedBytes(bench, start):
    """Body bytes nginx sent for /delta paths since the log was start bytes long."""
    with open(os.path.join(bench.temp, "delta-access.log"), "rb") as f:
        f.seek(start)
        return sum(int(line.split()[2]) for line in f.read().decode().splitlines() if line)


def logSize(bench):
    path = os.path.join(bench.temp, "delta-access.log")
    return os.path.getsize(path) if os.path.exists(path) else 0


def deltas(bench):
    config = bench.config
    total = sum(config["deltaArchives"]) * MIB + config["deltaSmall"][0] * config["deltaSmall"][1]
    requireFree(bench, 4 * total + GIB)
    old, new = os.path.join(bench.temp, "delta-old"), os.path.join(bench.temp, "delta-new")
    say("deltas: writing a %s client and its next version" % fmtSize(total))
    changed, total = deltaClient(bench, old, new)
    publish = os.path.join(bench.nativeBuild, "tools", "publish", "orvel-publish")
    out = os.path.join(bench.www, "delta")
    manifests = {}
    for version, source in (("v1", old), ("v2", new)):
        say("deltas: orvel-publish release, %s" % version)
        subprocess.run([publish, "release", source, out, "--no-paths"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(os.path.join(out, "manifest.txt"), newline="") as f:
            manifests[version] = f.read()
    # The first release, to start from, and the second without #blocks: the whole files.
    for name, text in (("delta-v1", manifests["v1"]),
                       ("delta-whole", "".join(line for line in manifests["v2"].splitlines(True)
                                               if not line.startswith("#blocks")))):
        publishDocuments(bench, name, text)
        os.symlink(os.path.join(out, "objects"), os.path.join(bench.www, name, "objects"))
    writeText(os.path.join(out, "news.txt"), NEWS)
    newLines, oldLines = manifestLines(manifests["v2"]), manifestLines(manifests["v1"])
    zsyncDir = os.path.join(bench.www, "delta-zsync")
    os.makedirs(zsyncDir)
    for i, path in enumerate(changed):
        digest = newLines[path][0]
        say("deltas: zsyncmake %s" % path)
        subprocess.run(["zsyncmake", "-u", "%sobjects/%s/%s" % (updateUrl(bench, "delta"), digest[:2], digest), "-o",
                        os.path.join(zsyncDir, "%d.zsync" % i), os.path.join(new, path.replace("\\", "/"))],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.sync()

    client = os.path.join(bench.temp, "delta-client")
    for path in oldLines:
        target = os.path.join(client, path.replace("\\", "/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.link(os.path.join(old, path.replace("\\", "/")), target)
    say("deltas: a first run over the old client (fills the cache, untimed)")
    checkRun(benchRun(bench, "run", winePath(client), updateUrl(bench, "delta-v1"), "0"), UP_TO_DATE)
    cacheFile, warmCache = os.path.join(client, "OrvelLauncher.cache"), os.path.join(bench.temp, "delta.cache")
    shutil.copy(cacheFile, warmCache)

    def restore():
        """The client as the first run left it: its cache, and the changed files as links of the old
        ones, with the write times the cache holds."""
        shutil.copy(warmCache, cacheFile)
        for path in changed:
            target = os.path.join(client, path.replace("\\", "/"))
            for leftover in (target, target + ".part"):
                if os.path.exists(leftover):
                    os.remove(leftover)
            os.link(os.path.join(old, path.replace("\\", "/")), target)

    def update(name, slow=False):
        restore()
        start = logSize(bench)
        values = benchRun(bench, "run", winePath(client), updateUrl(bench, name, slow), "0")
        checkRun(values, UPDATED % len(changed))
        for path in changed:
            if os.path.getsize(os.path.join(client, path.replace("\\", "/"))) != newLines[path][1]:
                raise BenchError("%s does not have its new size" % path)
        return ms(values), loggedBytes(bench, start), float(values["peak_working_set_kib"]), float(values["cpu_ms"])

    hashList, matchList = os.path.join(bench.temp, "delta-old.list"), os.path.join(bench.temp, "delta-new.list")
    writeText(hashList, "".join("%s %d %s\n" % (oldLines[p][0], oldLines[p][1], p) for p in changed))
    writeText(matchList, "".join("%s %d %s\n" % (newLines[p][0], newLines[p][1], p) for p in changed))
    zsyncOut = os.path.join(bench.temp, "zsync-out")
    runs, fetched, peaks, hashes, matches, zsyncs, zsyncBytes, slowRuns, slowCpu = [], [], [], [], [], [], [], [], []
    for rep in range(config["deltaReps"]):
        say("deltas: update run, repetition %d" % (rep + 1))
        elapsed, nbytes, peak, _ = update("delta")
        runs.append(elapsed)
        fetched.append(nbytes)
        peaks.append(peak)
        hashes.append(ms(benchRun(bench, "hashfiles", winePath(old), winePath(hashList), "1")))
        matches.append(ms(benchRun(bench, "match", winePath(old), winePath(matchList),
                                   winePath(os.path.join(out, "objects")), "16384")))
        say("deltas: zsync, repetition %d" % (rep + 1))
        os.makedirs(zsyncOut)
        start, began = logSize(bench), time.perf_counter()
        for i, path in enumerate(changed):
            subprocess.run(["zsync", "-q", "-i", os.path.join(old, path.replace("\\", "/")), "-o",
                            os.path.join(zsyncOut, "%d" % i), "http://127.0.0.1:%d/delta-zsync/%d.zsync" % (bench.port, i)],
                           check=True, cwd=zsyncOut, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        zsyncs.append((time.perf_counter() - began) * 1000)
        zsyncBytes.append(loggedBytes(bench, start))
        for i, path in enumerate(changed):
            if os.path.getsize(os.path.join(zsyncOut, "%d" % i)) != newLines[path][1]:
                raise BenchError("zsync made %s with another size" % path)
        shutil.rmtree(zsyncOut)
        say("deltas: update run at 100 Mbit/s a connection, repetition %d" % (rep + 1))
        slowMs, _, _, slowCpuMs = update("delta", slow=True)
        slowRuns.append(slowMs)
        slowCpu.append(slowCpuMs)
    say("deltas: whole-file update at 100 Mbit/s a connection")
    wholeMs, wholeBytes, _, _ = update("delta-whole", slow=True)

    # The anchors, natively: rsync's delta algorithm between two folders, zstd's patches.
    say("deltas: rsync --stats and zstd --patch-from")
    rsyncSource, rsyncTarget = os.path.join(bench.temp, "rsync-new"), os.path.join(bench.temp, "rsync-old")
    for folder, origin in ((rsyncSource, new), (rsyncTarget, old)):
        os.makedirs(folder)
        for i, path in enumerate(changed):
            os.link(os.path.join(origin, path.replace("\\", "/")), os.path.join(folder, "%d.pak" % i))
    began = time.perf_counter()
    stats = subprocess.run(["rsync", "-a", "--no-whole-file", "--stats", rsyncSource + "/", rsyncTarget + "/"],
                           check=True, stdout=subprocess.PIPE, text=True).stdout
    rsyncMs = (time.perf_counter() - began) * 1000
    literal = int(stats.split("Literal data:")[1].split()[0].replace(",", ""))
    patchBytes, began = 0, time.perf_counter()
    for i, path in enumerate(changed):
        patch = os.path.join(bench.temp, "patch.zst")
        subprocess.run(["zstd", "-q", "-f", "--long=31", "--patch-from=" + os.path.join(old, path.replace("\\", "/")),
                        os.path.join(new, path.replace("\\", "/")), "-o", patch], check=True)
        patchBytes += os.path.getsize(patch)
        os.remove(patch)
    zstdMs = (time.perf_counter() - began) * 1000

    label = "%s client, 1%% changed in %d regions (one an insertion) over %d of its archives (%s)" % (
        fmtSize(total), sum(count for _, count in config["deltaRegions"]), len(changed),
        fmtSize(sum(oldLines[p][1] for p in changed)))
    share = 100 * median(fetched) / total
    addRow(bench, 5, "Deltas, %s: bytes fetched by the update run, block indexes included" % label, fetched,
           "the client's size", [total], "%.2f%%" % share,
           "<= 2%%: %s" % ("met" if share <= 2 else "missed"), show=fmtBytes)
    addRow(bench, 5, "  the same bytes against zsync 0.6.2's, its .zsync files included", fetched,
           "zsync -i OLD, one file after the other", zsyncBytes, "%.2f x" % (median(fetched) / median(zsyncBytes)),
           "< 1: %s" % ("met" if median(fetched) < median(zsyncBytes) else "missed"), show=fmtBytes)
    addRow(bench, 5, "  time: update run against zsync", runs, "zsync -i OLD, one file after the other", zsyncs,
           "%.2f x" % (median(runs) / median(zsyncs)), goalText(1, round(median(runs) / median(zsyncs), 2)))
    addRow(bench, 5, "  rsync --no-whole-file --stats, literal data (%s)" % fmtMs(rsyncMs), [literal],
           whose="native (Linux), anchor", show=fmtBytes)
    addRow(bench, 5, "  zstd --patch-from --long=31, the patches (%s)" % fmtMs(zstdMs), [patchBytes],
           whose="native (Linux), anchor", show=fmtBytes)
    speedup = wholeMs / median(slowRuns)
    addRow(bench, 5, "  At 100 Mbit/s a connection (nginx limit_rate, 8 connections): update run", slowRuns,
           "whole-file update run (%s fetched)" % fmtBytes(wholeBytes), [wholeMs], "%.1f x faster" % speedup,
           goalText(10, round(speedup, 1), atMost=False))
    # Cores busy on average: near their count, the run waits on its own work rather than the network.
    addRow(bench, 5, "  CPU time of the Windows process at 100 Mbit/s (Wine server not counted): update run", slowCpu,
           "the run's own time", slowRuns, "%.2f cores busy" % (median(slowCpu) / median(slowRuns)))
    addRow(bench, 5, "  Peak working set of the update run", peaks,
           goal="<= %s: %s" % (fmtMib(MEMORY_GOAL_KIB), "met" if median(peaks) <= MEMORY_GOAL_KIB else "missed"),
           show=fmtMib)
    oldBytes = fmtSize(sum(oldLines[p][1] for p in changed))
    local = median(hashes) / median(matches)
    addRow(bench, 5, "  Local work: the old copies (%s) read and matched as the update run does, one thread" % oldBytes,
           matches, "fileSha256Hex of the old copies on one thread", hashes, "%.2f x its speed" % local,
           goalText(1, round(local, 2), atMost=False))
    addRow(bench, 5, "  Local work and all: the update run, unlimited (match, rebuild, SHA-256 of the new files)", runs,
           "fileSha256Hex of the old copies on one thread", hashes,
           "%.2f x its speed" % (median(hashes) / median(runs)))
    for folder in (old, new, client, rsyncSource, rsyncTarget, out, zsyncDir):
        shutil.rmtree(folder, ignore_errors=True)


# ---------------------------------------------------------------- main

def machineText():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / GIB
    return "%s, %d cores, %.0f GiB" % (model, os.cpu_count(), memory)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer files and repetitions, for development")
    parser.add_argument("--root", required=True)
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--temp-parent", default=tempfile.gettempdir())
    parser.add_argument("--only", default="warm,repair,downloads,memory,deltas", help="comma-separated rows to run")
    args = parser.parse_args()
    config = QUICK if args.quick else FULL

    free = shutil.disk_usage(args.temp_parent).free
    if free < config["freeNeeded"]:
        sys.exit("bench: %d MiB free under %s, %d MiB needed" % (free // MIB, args.temp_parent,
                                                               config["freeNeeded"] // MIB))

    bench = Bench(root=args.root, windowsBuild=args.windows_build, nativeBuild=args.native_build, config=config)
    bench.temp = tempfile.mkdtemp(prefix="orvel-bench-", dir=args.temp_parent)
    bench.www = os.path.join(bench.temp, "www")
    os.makedirs(bench.www)
    bench.env = dict(os.environ)
    bench.env.setdefault("WINEPREFIX", os.path.join(args.windows_build, "wineprefix"))
    bench.pool = random.Random(1).randbytes(64 * MIB)
    bench.cores = os.cpu_count()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        startNginx(bench)
        started = datetime.datetime.now()
        busyBefore, ownBefore, wallBefore = busyCoreSeconds(), ownCpuSeconds(bench), time.monotonic()
        parts = args.only.split(",")
        for name, step in [("warm", warmStart), ("repair", repair), ("downloads", downloads), ("memory", memory),
                           ("deltas", deltas)]:
            if name in parts:
                step(bench)
        others = (busyCoreSeconds() - busyBefore) - (ownCpuSeconds(bench) - ownBefore)
        wall = time.monotonic() - wallBefore
        wineVersion = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
        header = ("Orvel Launcher benchmark, %s, %.0f min, %s, %s%s; other processes used %.2f of %d cores on "
                  "average; minimum and median of %d (warm start), %d (repair), %d (downloads), %d (memory), "
                  "%d (deltas) repetitions") % (
                     started.strftime("%Y-%m-%d %H:%M"), wall / 60, machineText(), wineVersion,
                     ", --quick" if args.quick else "", max(others, 0) / wall, bench.cores, config["warmReps"],
                     config["repairReps"], config["downloadReps"], config["memoryReps"], config["deltaReps"])
        printTable(bench, header)
    except BenchError as error:
        sys.exit("bench: %s" % error)
    except KeyboardInterrupt:
        sys.exit("bench: interrupted")
    finally:
        cleanUp(bench)


if __name__ == "__main__":
    main()
