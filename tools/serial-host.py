#!/usr/bin/env python3
"""Plays the host on a serial line: polls the simulator through a tty and prints the replies.

    tools/serial-host.py /tmp/vorlak-host [count]

Meant for a virtual serial pair made with socat (see README): the simulator opens one end, this
script the other. Standard library only.
"""
import os
import sys
import termios
import time
import tty

POLL = b"\x0431\x05"


def main():
    path = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    failures = 0
    for i in range(count):
        os.write(fd, POLL)
        deadline = time.monotonic() + 2
        reply = b""
        while time.monotonic() < deadline and len(reply) < 2:
            import select
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                reply += os.read(fd, 64)
        print(f"poll {i + 1}: {reply!r}")
        failures += not reply.startswith(b"\x06")
        time.sleep(0.2)
    os.close(fd)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
