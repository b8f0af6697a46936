"""The host side of the machine's TCP link."""

import socket
import time
from typing import Iterable

from .protocol import ETX, FAULT_CODES, POLL, RESET, FieldLike, Status, emboss_message, format_message


class HostError(Exception):
    """The machine did not answer as a machine does (closed link, no reply in time, bad bytes)."""


class Host:
    """A host connected to the simulator's machine port. Every request waits for its reply,
    as a host driving the real machine does; replies come back parsed into a Status."""

    def __init__(self, port: int, address: str = "127.0.0.1", timeout: float = 10.0):
        self.timeout = timeout
        self.sock = socket.create_connection((address, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def close(self) -> None:
        self.sock.close()

    def __enter__(self) -> "Host":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def poll(self, timeout: float = None) -> Status:
        """EOT "31" ENQ; the machine's status."""
        return self.request(POLL, timeout)

    def reset(self, settle: float = 0.05) -> None:
        """EOT "31r". The machine does not answer a reset request, and it only recognises one
        that arrives on its own: the short pause keeps the next request out of its chunk."""
        self.sock.sendall(RESET)
        time.sleep(settle)

    def send_format(self, height: int, width: int, fields: Iterable[FieldLike]) -> Status:
        """A format definition (card size in 0.1 mm, the fields); the acknowledgement."""
        return self.request(format_message(height, width, fields))

    def send_emboss(self, lines: Iterable[str], tag: str) -> Status:
        """Emboss data (one text per field, the tag); the acknowledgement. The job runs on
        after it: wait for it with Control.wait_idle() or poll until the status is not busy."""
        return self.request(emboss_message(lines, tag))

    def request(self, data: bytes, timeout: float = None) -> Status:
        """Sends raw bytes and reads one status reply."""
        self.sock.sendall(data)
        return Status.parse(self.read_reply(timeout))

    def read_reply(self, timeout: float = None) -> bytes:
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        reply = self._read(2, deadline)
        if reply[1:2].decode("latin-1") in FAULT_CODES:
            while not reply.endswith(ETX):
                reply += self._read(1, deadline)
        return reply

    def _read(self, count: int, deadline: float) -> bytes:
        data = b""
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                raise HostError(f"no reply within the time limit (got {data!r})")
            self.sock.settimeout(left)
            try:
                chunk = self.sock.recv(count - len(data))
            except socket.timeout:
                raise HostError(f"no reply within the time limit (got {data!r})") from None
            if not chunk:
                raise HostError(f"the simulator closed the connection (got {data!r})")
            data += chunk
        return data
