#!/usr/bin/env python3
"""Example test-rig client for the Vorlak embosser simulator (Python standard library only).

Starts the simulator headless with the control port, plays the host: sends a format
definition and emboss data over the machine's TCP port, waits for the job to end through the
control port, and checks the struck glyphs and the card picture.

    python3 examples/rig_client.py --vorlak build/app/vorlak [--speed 20]

Exits with 0 when every check passed.
"""
import argparse
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

SOH, STX, ETX, EOT, ENQ, ACK = b"\x01", b"\x02", b"\x03", b"\x04", b"\x05", b"\x06"
POLL = EOT + b"31" + ENQ


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Control:
    """The simulator's control port: one JSON object per line each way."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.file = self.sock.makefile("rw", encoding="utf-8", newline="\n")

    def __call__(self, cmd, **args):
        self.file.write(json.dumps(dict(cmd=cmd, **args)) + "\n")
        self.file.flush()
        reply = json.loads(self.file.readline())
        if not reply.get("ok"):
            raise RuntimeError(f"{cmd}: {reply.get('error')}")
        return reply


class Host:
    """The host side of the machine's TCP link."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)

    def request(self, data, reply_length=2):
        self.sock.sendall(data)
        reply = b""
        while len(reply) < reply_length:
            chunk = self.sock.recv(reply_length - len(reply))
            if not chunk:
                raise RuntimeError("connection closed")
            reply += chunk
        return reply


def field_record(y, x, font, pitch):
    """One 15-character field record: positions in 0.1 mm (3 digits), font digit, pitch."""
    return f" 0{y:03d} {x:03d} {font}  {pitch:02d}".encode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vorlak", default="build/app/vorlak")
    parser.add_argument("--speed", default="20", help="machine waits divided by this")
    args = parser.parse_args()

    host_port = free_port()
    with tempfile.TemporaryDirectory() as data:
        with open(os.path.join(data, "Vorlak.ini"), "w") as ini:
            ini.write(f"[Setup]\nPort={host_port}\n")
        sim = subprocess.Popen(
            [args.vorlak, "--headless", "--data-dir", data, "--control-port", "0",
             "--speed", args.speed],
            stderr=subprocess.PIPE, text=True)
        try:
            # The simulator prints the control port it chose.
            control_port = None
            for line in sim.stderr:
                match = re.search(r"control port listening on 127\.0\.0\.1:(\d+)", line)
                if match:
                    control_port = int(match.group(1))
                    break
            if control_port is None:
                raise RuntimeError("the simulator did not open its control port")
            control = Control(control_port)
            host = Host(host_port)

            assert host.request(POLL) == ACK + b"P", "a fresh machine reports POWERED ON"
            control("press", button="clear")
            control("wait_idle", timeout_ms=10000)
            assert host.request(POLL) == ACK + b"1", "after Clear the machine is READY"

            # Inject a fault and see the host's poll change.
            control("set_fault", fault="feeder_empty", on=True)
            reply = host.request(POLL, 27)
            assert reply == ACK + b"3" + STX + b"E82        FEEDER EMPTY" + ETX, reply
            control("set_fault", fault="feeder_empty", on=False)

            # A format for an 85.6 x 54.0 mm card with two fields, then the emboss data.
            fmt = (SOH + b"31" + STX + b"F]00 U0 " + b"  0540  0856"
                   + field_record(100, 50, 0, 14) + field_record(200, 50, 1, 14) + ETX)
            assert host.request(fmt) == ACK + b"2"
            data_msg = SOH + b"31" + STX + b"T]00" + b"HELLO\r\nRIG\r\n@00042" + ETX
            assert host.request(data_msg) == ACK + b"2"
            control("wait_idle", timeout_ms=60000)

            state = control("state")
            assert state["panels"][3] == "00042", state["panels"]
            assert state["format"]["count"] == 2
            glyphs = control("glyphs")["glyphs"]
            chars = "".join(g["char"] for g in glyphs)
            # Character-wheel order: every E, then every G, ..., whatever the field.
            assert chars == "".join(sorted("HELLORIG")), chars
            card = os.path.join(data, "card.png")
            saved = control("save_card", path=card)
            with open(card, "rb") as f:
                assert f.read(8) == b"\x89PNG\r\n\x1a\n"
            print(f"struck {chars} on a {saved['width_px']} x {saved['height_px']} card; "
                  f"picture {card}: all checks passed")
            control("quit")
            sim.wait(timeout=20)
            return 0
        finally:
            if sim.poll() is None:
                sim.kill()
                sim.wait()


if __name__ == "__main__":
    sys.exit(main())
