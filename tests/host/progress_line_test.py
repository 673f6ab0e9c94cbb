#!/usr/bin/env python3
"""The progress line of long tasks: on a terminal it is rewritten in place
("\\r" ... erase to the end of the line) and cleared before the results; on
a pipe it comes as plain lines, with no control characters in a log. Both
for the scan (its own session) and the check (the task report).

usage: progress_line_test.py BRISALEN
"""
import os
import pty
import subprocess
import sys
import tempfile

problems = []


def stderr_on_terminal(command):
    master, slave = pty.openpty()
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=slave, timeout=120)
    os.close(slave)
    data = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal's other end is closed: all read
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return run.returncode, data.decode("utf-8", "replace")


def main():
    host = sys.argv[1]
    with tempfile.TemporaryDirectory() as machine:
        base = [host, "--machine", machine]
        subprocess.run(base + ["machine", "seed-user-data"], capture_output=True, check=True, timeout=120)
        for command, prefix in ((["scan"], "scan: "), (["check"], "check: ")):
            rc, terminal = stderr_on_terminal(base + command)
            shown = "\r" + prefix in terminal and "\x1b[K" in terminal
            cleared = terminal.endswith("\r\x1b[K")
            if rc not in (0, 1) or not shown or not cleared:
                problems.append("%s on a terminal: exit %d, stderr %r" % (command, rc, terminal[-200:]))
            piped = subprocess.run(base + command, capture_output=True, text=True, timeout=120)
            if piped.returncode not in (0, 1) or "\r" in piped.stderr or "\x1b" in piped.stderr or \
                    not any(line.startswith(prefix) for line in piped.stderr.splitlines()):
                problems.append("%s on a pipe: exit %d, stderr %r" % (command, piped.returncode, piped.stderr[:200]))
    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
