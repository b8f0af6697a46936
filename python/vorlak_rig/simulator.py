"""Starts and stops the simulator program for a test."""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
from typing import List, Optional, Sequence

from .control import Control
from .host import Host

_CONTROL_PORT_LINE = re.compile(r"control port listening on 127\.0\.0\.1:(\d+)")
_START_ATTEMPTS = 5


class SimulatorError(Exception):
    """The program could not be found, did not start, or did not answer."""


def find_vorlak(path: Optional[str] = None) -> str:
    """The program to run: the given path, else $VORLAK, else vorlak on the PATH."""
    candidate = path or os.environ.get("VORLAK") or shutil.which("vorlak")
    if not candidate:
        raise SimulatorError("vorlak not found: pass its path, set VORLAK, or install the package")
    if not (os.path.isfile(candidate) and os.access(candidate, os.X_OK)):
        raise SimulatorError(f"{candidate} is not an executable program")
    return os.path.abspath(candidate)


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Simulator:
    """One headless simulator with its own temporary data folder, a free machine port and a
    free control port. Use it as a context manager; `stderr` keeps what the program printed.

        with Simulator(speed=20) as sim:
            assert sim.host().poll().state == "powered_on"
    """

    def __init__(self, vorlak: Optional[str] = None, speed: float = 20,
                 extra_args: Sequence[str] = (), control_token: Optional[str] = None,
                 start_timeout: float = 60.0, export_dir: Optional[str] = None):
        self.program = find_vorlak(vorlak)
        self.speed = speed
        self.extra_args = list(extra_args)
        self.control_token = control_token
        # The only folder the control port writes into (save_card); None: the data folder.
        self.export_dir = export_dir
        self.start_timeout = start_timeout
        self.process: Optional[subprocess.Popen] = None
        self.data_dir: Optional[str] = None
        self.host_port: Optional[int] = None
        self.control_port: Optional[int] = None
        self._stderr_lines: List[str] = []
        self._stderr_reader: Optional[threading.Thread] = None
        self._port_seen = threading.Event()
        self._control: Optional[Control] = None
        self._hosts: List[Host] = []
        self._tempdir: Optional[tempfile.TemporaryDirectory] = None

    @property
    def stderr(self) -> str:
        """Everything the program wrote on stderr so far."""
        return "".join(self._stderr_lines)

    @property
    def control(self) -> Control:
        """The control connection, opened once."""
        if self._control is None:
            self._control = Control(self.control_port, self.control_token)
        return self._control

    def host(self, timeout: float = 10.0) -> Host:
        """A new host connection to the machine port (closed when the simulator stops)."""
        host = Host(self.host_port, timeout=timeout)
        self._hosts.append(host)
        return host

    def __enter__(self) -> "Simulator":
        self.start()
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def start(self) -> None:
        self._tempdir = tempfile.TemporaryDirectory(prefix="vorlak-rig-")
        self.data_dir = self._tempdir.name
        try:
            # A free port may be taken by another process before the program listens on it:
            # the program then does not say it listens, and starts again on another.
            for attempt in range(1, _START_ATTEMPTS + 1):
                self.host_port = free_port()
                self._launch()
                if not self._port_seen.wait(self.start_timeout) or self.control_port is None:
                    raise SimulatorError(
                        f"{self.program} did not open its control port:\n{self.stderr}")
                if f"host port listening on 0.0.0.0:{self.host_port}\n" in self.stderr:
                    break
                if attempt == _START_ATTEMPTS:
                    raise SimulatorError(
                        f"machine port {self.host_port} could not be opened:\n{self.stderr}")
                self._kill()
            self.control.state()
        except BaseException:
            self.stop()
            raise

    def _launch(self) -> None:
        with open(os.path.join(self.data_dir, "Vorlak.ini"), "w", encoding="ascii") as ini:
            ini.write(f"[Setup]\nPort={self.host_port}\n")
        args = [self.program, "--headless", "--data-dir", self.data_dir, "--control-port", "0",
                "--speed", str(self.speed)]
        if self.control_token is not None:
            args += ["--control-token", self.control_token]
        if self.export_dir is not None:
            args += ["--export-dir", str(self.export_dir)]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.control_port = None
        self._port_seen = threading.Event()
        self._stderr_lines = []
        self.process = subprocess.Popen(args + self.extra_args, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, errors="replace", env=env)
        self._stderr_reader = threading.Thread(target=self._read_stderr,
                                               args=(self.process, self._port_seen), daemon=True)
        self._stderr_reader.start()

    def _kill(self) -> None:
        self.process.kill()
        self.process.wait()
        self._stderr_reader.join(5)
        self.process.stderr.close()

    def _read_stderr(self, process: subprocess.Popen, port_seen: threading.Event) -> None:
        # Read to the end in any case, so the program never blocks on a full pipe.
        lines = self._stderr_lines
        for line in process.stderr:
            lines.append(line)
            match = _CONTROL_PORT_LINE.search(line)
            if match and not port_seen.is_set():
                self.control_port = int(match.group(1))
                port_seen.set()
        port_seen.set()

    def stop(self, timeout: float = 20.0) -> Optional[int]:
        """Closes the program as the operator would (killed if it does not end in time), then
        removes the data folder. The exit status, or None when it was never started."""
        for host in self._hosts:
            host.close()
        self._hosts.clear()
        code = None
        if self.process is not None:
            asked = False
            if self.process.poll() is None and self._control is not None:
                try:
                    self._control.quit()
                    asked = True
                except (OSError, ValueError):
                    pass
            try:
                # Without a control connection SIGTERM asks for the orderly close instead.
                if not asked and self.process.poll() is None:
                    self.process.terminate()
                code = self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.terminate()
                try:
                    code = self.process.wait(5)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    code = self.process.wait()
            if self._stderr_reader is not None:
                self._stderr_reader.join(5)
            self.process.stderr.close()
        if self._control is not None:
            self._control.close()
            self._control = None
        if self._tempdir is not None:
            self._tempdir.cleanup()
            self._tempdir = None
        return code
