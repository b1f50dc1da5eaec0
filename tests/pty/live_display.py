#!/usr/bin/python3
"""The live display as a person sees it: Tachoro runs in a pseudo-terminal,
a terminal emulator (pyte) keeps the screen, Esc is pressed after a few
refreshes. The summary must stand where the display stood, with nothing of
the display left over, and report the frames read up to the stop.

Usage: live_display.py TACHORO LIBRARY [SCRIPT]

LIBRARY is the frame server (the test frame server, or a real one with a
SCRIPT for it that renders long enough; the default script is the test frame
server's).
"""
import fcntl
import os
import pty
import re
import select
import shutil
import struct
import sys
import tempfile
import termios
import time

import pyte

COLUMNS, ROWS = 100, 40


def default_settings(library):
    lines = ["[Main]", "Version=2.1.3", "AVSDLL=" + library, "DisplayFPS=1", "DisplayTPF=1", "CreateLog=0",
             "CreateCSV=0", "PauseBeforeExit=0", "FrameRange=0,-1", "InvokeDistributor=1",
             "AllowOnlyOneInstance=0", "UseColor=1", "MonitorGPULoad=0", "ProcessPriority=2", "ConUseSTDOUT=0",
             "TimeLimit=-1", "", "[Miscellaneous]", "LogEstimatedTime=1", "AutoCompleteExtension=0"]
    return "".join(line + "\r\n" for line in lines)


def screen_lines(screen):
    return [line.rstrip() for line in screen.display]


def row_of(lines, prefix):
    for index, line in enumerate(lines):
        if line.startswith(prefix):
            return index
    return -1


def main():
    tachoro, library = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="tachoro-pty-")
    failures = []
    try:
        os.makedirs(os.path.join(work, "config", "tachoro"))
        with open(os.path.join(work, "config", "tachoro", "Tachoro.ini"), "w", newline="") as settings:
            settings.write(default_settings(library))
        script = os.path.join(work, "long.avs")
        text = "frames=100000\nframe_delay_us=2000\n"
        if len(sys.argv) > 3:
            with open(sys.argv[3]) as given:
                text = given.read()
        with open(script, "w") as handle:
            handle.write(text)

        pid, fd = pty.fork()
        if pid == 0:
            os.environ["XDG_CONFIG_HOME"] = os.path.join(work, "config")
            os.environ["XDG_RUNTIME_DIR"] = work
            os.environ["TERM"] = "xterm"
            os.execv(tachoro, [tachoro, script])
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))

        screen = pyte.Screen(COLUMNS, ROWS)
        stream = pyte.ByteStream(screen)
        refreshes = 0
        display_row = -1
        esc_sent = False
        deadline = time.time() + 90
        while time.time() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if not ready:
                continue
            try:
                data = os.read(fd, 65536)
            except OSError:
                break
            if not data:
                break
            stream.feed(data)
            refreshes += data.count(b"Frame (current | last):")
            if not esc_sent and refreshes >= 3:
                display_row = row_of(screen_lines(screen), "Frame (current | last):")
                os.write(fd, b"\x1b")
                esc_sent = True
        _, status = os.waitpid(pid, 0)
        lines = screen_lines(screen)
        # The key polling switched echo and line editing off; they must be
        # back once the program has ended.
        local_modes = termios.tcgetattr(fd)[3]
        if not (local_modes & termios.ECHO and local_modes & termios.ICANON):
            failures.append("the terminal was left without echo or line editing")

        if not esc_sent:
            failures.append("the display never refreshed three times")
        if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
            failures.append("exit status %r" % status)
        summary_row = row_of(lines, "Frames processed:")
        if summary_row < 0 or summary_row != display_row:
            failures.append("summary at row %d, display was at row %d" % (summary_row, display_row))
        expected = [
            r"Frames processed:               (\d+) \(0 - (\d+)\)",
            r"FPS \(min \| max \| average\):      [\d.]+ \| [\d.]+ \| [\d.]+",
            r"TPF \(max \| min \| average\):      [\d.]+ \| [\d.]+ \| [\d.]+ ms",
            r"Memory usage \(phys \| virt\):     \d+ \| \d+ MB",
            r"Thread count:                   \d+",
            r"CPU usage \(average\):            \d+%",
            r"",
            r"Time \(elapsed \| estimated\):     \d\d:\d\d:\d\d\.\d{3} \| \d\d:\d\d:\d\d\.\d{3}",
            r"", r"", r"",
        ]
        for offset, pattern in enumerate(expected):
            line = lines[summary_row + offset] if 0 <= summary_row + offset < len(lines) else None
            if line is None or not re.fullmatch(pattern, line):
                failures.append("line %d: %r does not match %r" % (summary_row + offset, line, pattern))
        match = re.fullmatch(expected[0], lines[summary_row]) if summary_row >= 0 else None
        if match:
            processed, last = int(match.group(1)), int(match.group(2))
            if processed != last + 1 or not 10 <= processed < 100000:
                failures.append("frames processed %d up to %d" % (processed, last))
        leftovers = [line for line in lines if "Press 'Esc'" in line or line.startswith("Frame (current")]
        if leftovers:
            failures.append("left over on the screen: %r" % leftovers)
        if screen.cursor.y != summary_row + 8:
            failures.append("cursor on row %d, expected %d" % (screen.cursor.y, summary_row + 8))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print("\n".join(failures))
        print("screen:\n" + "\n".join(lines if "lines" in locals() else []))
        return 1
    print("live display: summary replaced the display after Esc")
    return 0


if __name__ == "__main__":
    sys.exit(main())
