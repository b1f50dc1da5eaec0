#!/usr/bin/env python3
"""Time from Tachoro's start to its first measured frame.

    time_to_first_frame.py FRAMESERVER SCRIPT PROGRAM [PROGRAM ...] [--runs=N]

Starts each PROGRAM (a native tachoro, or a Tachoro.exe run under Wine) with
SCRIPT, N times (default 7), the programs in turn, and takes the time from
the start until the live display's "Reading frames" appears on the console:
the installation query, the calibration and the main load are behind it,
and the benchmark loop requests its first frame next. The run is then
stopped (SIGINT). FRAMESERVER is the library the programs load (AVSDLL).
Prints every time and the median of each program, in seconds.
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

MARKER = b"Reading frames"


def settings_text(frameserver):
    # AllowOnlyOneInstance=0: a stopped run may still hold the lock while the
    # next one starts.
    return "[Main]\r\nVersion=2.1.3\r\nAVSDLL=%s\r\nAllowOnlyOneInstance=0\r\n" % frameserver


def prepare(program, frameserver, directory):
    """The command line and environment of one program, its settings written."""
    environment = dict(os.environ)
    if program.lower().endswith(".exe"):
        # Windows: the settings file lies beside the executable.
        local = os.path.join(directory, "Tachoro.exe")
        shutil.copy(program, local)
        native = "Z:" + frameserver.replace("/", "\\") if frameserver.startswith("/") else frameserver
        with open(os.path.join(directory, "Tachoro.ini"), "w", newline="") as ini:
            ini.write(settings_text(native))
        return ["wine", local], environment
    config = os.path.join(directory, "config", "tachoro")
    os.makedirs(config)
    with open(os.path.join(config, "Tachoro.ini"), "w", newline="") as ini:
        ini.write(settings_text(frameserver))
    environment["XDG_CONFIG_HOME"] = os.path.join(directory, "config")
    return [program], environment


def time_one(command, environment, script):
    start = time.monotonic()
    process = subprocess.Popen(command + [script], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env=environment)
    seen = b""
    elapsed = None
    while True:
        chunk = os.read(process.stderr.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
        if MARKER in seen:
            elapsed = time.monotonic() - start
            break
    process.send_signal(signal.SIGINT)
    try:
        process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
    if elapsed is None:
        sys.exit("no measured frame: " + seen.decode(errors="replace"))
    return elapsed


def main():
    arguments = [a for a in sys.argv[1:] if not a.startswith("--runs=")]
    runs = [int(a[7:]) for a in sys.argv[1:] if a.startswith("--runs=")]
    if len(arguments) < 3:
        sys.exit(__doc__)
    frameserver, script, programs = os.path.abspath(arguments[0]), os.path.abspath(arguments[1]), arguments[2:]
    with tempfile.TemporaryDirectory() as scratch:
        prepared = []
        for index, program in enumerate(programs):
            directory = os.path.join(scratch, str(index))
            os.makedirs(directory)
            prepared.append(prepare(os.path.abspath(program), frameserver, directory))
        times = [[] for _ in programs]
        for _ in range(runs[0] if runs else 7):
            for index, (command, environment) in enumerate(prepared):
                times[index].append(time_one(command, environment, script))
    for program, measured in zip(programs, times):
        print("%s: %s; median %.2f s" % (program, " ".join("%.2f" % t for t in measured), statistics.median(measured)))


if __name__ == "__main__":
    main()
