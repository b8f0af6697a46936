#!/usr/bin/env python3
"""The HTTP front under a live page's load: a job at 10 strikes per second (--speed 1.6), a host
polling every 20 ms, and a client that reads the event stream and fetches the card picture
after every strike (one fetch at a time, as the page does). Prints the host's poll round trips
with and without that client, the picture's fetch times, how many strikes the client saw, and
the program's CPU. Figures, not assertions: run it on a quiet machine and compare runs.

usage: bench/httpbench.py [--vorlak build/app/vorlak] [--glyphs 100]
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
from vorlak_rig import protocol  # noqa: E402

POLL = b"\x0431\x05"
STRIKE_MS = 160


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    values = sorted(values)
    if not values:
        return float("nan")
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Program:
    def __init__(self, path, speed):
        self.dir = tempfile.mkdtemp(prefix="httpbench-")
        self.host_port = free_port()
        with open(os.path.join(self.dir, "Vorlak.ini"), "w") as f:
            f.write(f"[Setup]\nPort={self.host_port}\n")
        self.process = subprocess.Popen(
            [path, "--headless", "--data-dir", self.dir, "--http-port", "0", "--speed", str(speed)],
            stderr=subprocess.PIPE, text=True)
        for line in self.process.stderr:
            m = re.search(r"HTTP listening on 127\.0\.0\.1:(\d+)", line)
            if m:
                self.http_port = int(m.group(1))
                break
        threading.Thread(target=lambda: [None for _ in self.process.stderr], daemon=True).start()
        self.base = f"http://127.0.0.1:{self.http_port}"

    def command(self, body):
        request = urllib.request.Request(self.base + "/api/command", data=body.encode())
        with urllib.request.urlopen(request, timeout=60) as reply:
            return reply.read().decode()

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


class PageClient:
    """Reads the event stream; after each strike fetches the card picture, one at a time."""

    def __init__(self, base):
        self.base = base
        self.strikes = 0
        self.fetch_ms = []
        self.pending = threading.Event()
        self.stop = False
        threading.Thread(target=self.read_events, daemon=True).start()
        threading.Thread(target=self.fetch_pictures, daemon=True).start()

    def read_events(self):
        with urllib.request.urlopen(self.base + "/api/events", timeout=600) as stream:
            for line in stream:
                if self.stop:
                    return
                if line.startswith(b"event: strike"):
                    self.strikes += 1
                    self.pending.set()

    def fetch_pictures(self):
        while not self.stop:
            if not self.pending.wait(0.2):
                continue
            self.pending.clear()
            t = time.perf_counter()
            with urllib.request.urlopen(self.base + "/api/card.png", timeout=30) as reply:
                reply.read()
            self.fetch_ms.append((time.perf_counter() - t) * 1000)


def job_round(program, glyphs, with_page):
    page = PageClient(program.base) if with_page else None
    time.sleep(0.3)
    host = socket.create_connection(("127.0.0.1", program.host_port))
    host.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    host.sendall(protocol.emboss_message(["A" * min(glyphs, 40)] * max(1, glyphs // 40), "B1"))
    host.recv(2)
    rtts = []
    cpu0, t0 = cpu_seconds(program.process.pid), time.perf_counter()
    deadline = t0 + glyphs * STRIKE_MS / 1000 / 1.6 * 0.9
    while time.perf_counter() < deadline:
        t = time.perf_counter()
        host.sendall(POLL)
        reply = host.recv(64)
        rtts.append((time.perf_counter() - t) * 1e6)
        if reply != b"\x062":
            break
        time.sleep(0.02)
    cpu = 100 * (cpu_seconds(program.process.pid) - cpu0) / (time.perf_counter() - t0)
    program.command('{"cmd":"wait_idle","timeout_ms":120000}')
    host.close()
    if page:
        page.stop = True
    return rtts, cpu, page


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vorlak", default="build/app/vorlak")
    parser.add_argument("--glyphs", type=int, default=120)
    args = parser.parse_args()
    program = Program(args.vorlak, 1.6)
    try:
        program.command('{"cmd":"press","button":"clear"}')
        program.command('{"cmd":"wait_idle"}')
        host = socket.create_connection(("127.0.0.1", program.host_port))
        host.sendall(protocol.format_message(540, 856, [(60 + 40 * i, 40, 0, 14) for i in range(3)]))
        host.recv(2)
        host.close()
        program.command('{"cmd":"wait_idle"}')
        for with_page in (False, True, False, True):
            rtts, cpu, page = job_round(program, args.glyphs, with_page)
            label = "with page client   " if with_page else "without page client"
            print(f"{label}: polls {len(rtts)}, RTT p50 {statistics.median(rtts):7.0f} us, "
                  f"p99 {percentile(rtts, 99):7.0f} us, max {max(rtts):7.0f} us, CPU {cpu:5.1f} %")
            if page:
                print(f"    strikes seen {page.strikes} of {args.glyphs // 40 * 40}, pictures "
                      f"{len(page.fetch_ms)}, fetch p50 {statistics.median(page.fetch_ms):.1f} ms, "
                      f"p99 {percentile(page.fetch_ms, 99):.1f} ms")
    finally:
        program.close()


if __name__ == "__main__":
    main()
