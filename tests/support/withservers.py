#!/usr/bin/python3
"""Runs one test command with local update servers around it (used by CTest).

    withservers.py [--https] [--root DIR] -- COMMAND ARGS...

Creates a work folder (under $TMPDIR, else the current folder), a server root in
it unless --root is given, starts testserver.py on 127.0.0.1 and, with --https,
a trusted and an untrusted nginx on the same root, then runs COMMAND with:
    ORVEL_TEST_WORK, ORVEL_TEST_ROOT, ORVEL_TEST_LOG, ORVEL_TEST_HTTP_PORT
    and with --https: ORVEL_TEST_HTTPS_PORT, ORVEL_TEST_HTTPS_UNTRUSTED_PORT,
    ORVEL_TEST_HTTPS_LOG, ORVEL_TEST_HTTPS_CA, ORVEL_TEST_HTTPS_UNTRUSTED_CA
Exits with the command's exit code (128+N if it died of signal N, 128+N if
this runner got signal N, 2 if the servers could not be started). The servers
are stopped and the test CA removed from the host store in every case. The work
folder is removed after a passing run, kept (and named) otherwise; set
ORVEL_TEST_KEEP=1 to always keep it.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, HERE)
import httpsserver  # noqa: E402

START_TIMEOUT = 10.0
STOP_GRACE = 5.0
EXIT_SETUP_FAILED = 2
HANDLED_SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)

# Set by the signal handler; the main flow checks it between steps, so the
# handler never interrupts a half-done CA store change.
STATE = {"signal": 0, "command": None}


def say(text):
    sys.stdout.write("withservers: %s\n" % text)
    sys.stdout.flush()


def onSignal(signum, frame):
    if not STATE["signal"]:
        STATE["signal"] = signum
    signalCommand(signum)


def signalCommand(signum):
    """Signals the command's whole process group (it may have started helpers)."""
    command = STATE["command"]
    if command is None:
        return
    try:
        os.killpg(command.pid, signum)
    except OSError:
        pass  # group already gone


def commandPreexec():
    # Own process group, so an aborted run can take the test's helpers down too.
    os.setpgid(0, 0)
    httpsserver.dieWithParent()


def stopCommand():
    """After a signal: ends the command and anything left in its process group."""
    proc = STATE["command"]
    if proc is None:
        return
    if proc.poll() is None:
        signalCommand(signal.SIGTERM)
        try:
            proc.wait(STOP_GRACE)
        except subprocess.TimeoutExpired:
            pass
    signalCommand(signal.SIGKILL)
    proc.wait()


def stopProcess(proc):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(STOP_GRACE)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def readPort(path):
    try:
        with open(path) as f:
            text = f.read().strip()
    except OSError:
        return 0
    return int(text) if text.isdigit() else 0


def startHttpServer(work, root, log):
    """Returns (process, port); port 0 on failure."""
    portFile = os.path.join(work, "http.port")
    errFile = os.path.join(work, "http.err")
    with open(errFile, "ab") as err:
        proc = subprocess.Popen(
            [httpsserver.PYTHON, os.path.join(HERE, "testserver.py"),
             "--root", root, "--port-file", portFile, "--log", log],
            stdin=subprocess.DEVNULL, stdout=err, stderr=err,
            preexec_fn=httpsserver.dieWithParent)
    deadline = time.time() + START_TIMEOUT
    while time.time() < deadline and proc.poll() is None and not STATE["signal"]:
        port = readPort(portFile)
        if port and httpsserver.accepts(port):
            return proc, port
        time.sleep(0.05)
    with open(errFile, errors="replace") as f:
        say("http server did not start:\n" + f.read()[-2000:])
    return proc, 0


def makeWorkFolder():
    base = os.environ.get("TMPDIR") or os.getcwd()
    if not os.access(base, os.W_OK):
        base = tempfile.gettempdir()
    return os.path.realpath(tempfile.mkdtemp(prefix="orvel-test-", dir=base))


def runCommand(command, env):
    """Runs the test command to its end (or until a signal); returns its exit code."""
    try:
        proc = subprocess.Popen(command, env=env, preexec_fn=commandPreexec)
    except OSError as e:
        say("cannot run %s: %s" % (command[0], e))
        return 127
    STATE["command"] = proc
    signalledAt = 0.0
    while proc.poll() is None:
        if STATE["signal"]:
            if not signalledAt:
                signalledAt = time.time()
                signalCommand(STATE["signal"])
            elif time.time() - signalledAt > STOP_GRACE:
                signalCommand(signal.SIGKILL)
        try:
            proc.wait(0.1)
        except subprocess.TimeoutExpired:
            pass
    rc = proc.returncode
    return 128 - rc if rc < 0 else rc


def main():
    argv = sys.argv[1:]
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        sys.stderr.write("usage: withservers.py [--https] [--root DIR] -- COMMAND ARGS...\n")
        return EXIT_SETUP_FAILED
    split = argv.index("--")
    parser = argparse.ArgumentParser(prog="withservers.py")
    parser.add_argument("--https", action="store_true", help="also run trusted and untrusted nginx")
    parser.add_argument("--root", help="serve this folder instead of a fresh one")
    args = parser.parse_args(argv[:split])
    command = argv[split + 1:]

    for signum in HANDLED_SIGNALS:
        signal.signal(signum, onSignal)

    if args.root and not os.path.isdir(args.root):
        say("no such root folder: %s" % args.root)
        return EXIT_SETUP_FAILED
    work = makeWorkFolder()
    root = os.path.realpath(args.root) if args.root else os.path.join(work, "root")
    if not args.root:
        os.mkdir(root)
    run = {
        "work": work,
        "root": root,
        "log": os.path.join(work, "http.log"),
        "httpProc": None,
        "https": httpsserver.Https(work=work, root=root,
                                   accessLog=os.path.join(work, "https-access.log")),
    }
    rc = EXIT_SETUP_FAILED
    try:
        rc = startAndRun(run, args.https, command)
    finally:
        # From here on nothing may cut the cleanup short.
        for signum in HANDLED_SIGNALS:
            signal.signal(signum, signal.SIG_IGN)
        if STATE["signal"] or (STATE["command"] is not None and STATE["command"].poll() is None):
            stopCommand()
        if not httpsserver.stopHttps(run["https"]):
            say("could not remove the test CA from the host store")
            if rc == 0:
                rc = 1
        stopProcess(run["httpProc"])
    if STATE["signal"]:
        rc = 128 + STATE["signal"]
    if rc == 0 and os.environ.get("ORVEL_TEST_KEEP") != "1":
        shutil.rmtree(work, ignore_errors=True)
    else:
        say("kept work folder %s" % work)
    return rc


def startAndRun(run, withHttps, command):
    root = run["root"]
    run["httpProc"], httpPort = startHttpServer(run["work"], root, run["log"])
    if not httpPort or STATE["signal"]:
        return EXIT_SETUP_FAILED
    say("http 127.0.0.1:%d, root %s" % (httpPort, root))

    env = dict(os.environ)
    env.update({
        "ORVEL_TEST_WORK": run["work"],
        "ORVEL_TEST_ROOT": root,
        "ORVEL_TEST_LOG": run["log"],
        "ORVEL_TEST_HTTP_PORT": str(httpPort),
    })
    if withHttps:
        https = run["https"]
        if not httpsserver.startHttps(https) or STATE["signal"]:
            return EXIT_SETUP_FAILED
        say("https 127.0.0.1:%d (test CA installed), untrusted https 127.0.0.1:%d"
            % (https.trusted.port, https.untrusted.port))
        env.update({
            "ORVEL_TEST_HTTPS_PORT": str(https.trusted.port),
            "ORVEL_TEST_HTTPS_UNTRUSTED_PORT": str(https.untrusted.port),
            "ORVEL_TEST_HTTPS_LOG": https.accessLog,
            "ORVEL_TEST_HTTPS_CA": https.trustedCa.cert,
            "ORVEL_TEST_HTTPS_UNTRUSTED_CA": https.untrustedCa.cert,
        })
    return runCommand(command, env)


if __name__ == "__main__":
    sys.exit(main())
