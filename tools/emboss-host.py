#!/usr/bin/env python3
"""A host that sends one format definition and one emboss job to the simulator over TCP and
waits, polling, until the job has been struck. Used by tools/screenshot-job.sh.

Usage: emboss-host.py HOST PORT
"""
import socket
import sys
import time

SOH, STX, ETX, EOT, ENQ, ACK = b"\x01", b"\x02", b"\x03", b"\x04", b"\x05", b"\x06"
POLL = EOT + b"31" + ENQ


def record(y, x, font, pitch):
    """A field record: Y at 2-4, X at 6-8 (0.1 mm), the font selector at 10, pitch at 13-14."""
    return b"Y%03dX%03dF%cP0%02d " % (y, x, font, pitch)


def connect(host, port, seconds=10.0):
    deadline = time.monotonic() + seconds
    while True:
        try:
            return socket.create_connection((host, port), timeout=5)
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)


def poll(sock):
    sock.sendall(POLL)
    reply = sock.recv(64)
    return reply[:2]


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    sock = connect(host, port)
    fields = [record(250, 60, ord("1"), 14), record(360, 60, ord("0"), 14),
              record(450, 60, ord("0"), 14)]
    card = b"H:0540W:0856"
    sock.sendall(SOH + b"31" + STX + b"F]00 U0 " + card + b"".join(fields) + ETX)
    assert sock.recv(2) == ACK + b"2"
    lines = [b"4000 1234 5678 9010", b"GUELTIG BIS 12/29", b"MAX MUSTERMANN"]
    sock.sendall(SOH + b"31" + STX + b"T]00" + b"\r\n".join(lines) + b"@00042" + ETX)
    assert sock.recv(2) == ACK + b"2"
    # The job answers BUSY until its last strike; then the card rests for a moment.
    deadline = time.monotonic() + 60
    while poll(sock) == ACK + b"2":
        if time.monotonic() > deadline:
            sys.exit("the job did not end")
        time.sleep(0.1)
    time.sleep(0.1)
    sock.close()


if __name__ == "__main__":
    main()
