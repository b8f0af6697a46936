"""The machine's line protocol: the bytes a host sends and the status replies it gets."""

from dataclasses import dataclass
from typing import Iterable, NamedTuple, Sequence, Union

SOH, STX, ETX, EOT, ENQ, ACK = b"\x01", b"\x02", b"\x03", b"\x04", b"\x05", b"\x06"
STATION = b"31"
POLL = EOT + STATION + ENQ
RESET = EOT + STATION + b"r"

# The character after ACK names the machine's state; "3" and "5" carry a fault text.
STATES = {
    "1": "ready",
    "2": "busy",
    "3": "fault",
    "5": "fault",
    "P": "powered_on",
    "R": "in_reset",
    "W": "paused",
}
FAULT_CODES = "35"
ERROR_CODE_WIDTH = 11


@dataclass(frozen=True)
class Status:
    """One reply of the machine: its exact bytes and what they say."""

    raw: bytes
    code: str  # the character after ACK
    error_code: str = ""  # the fault's code ("E82"), blanks stripped; empty without a fault
    text: str = ""  # the fault's text ("FEEDER EMPTY"); empty without a fault

    @property
    def state(self) -> str:
        """ready, busy, fault, powered_on, in_reset, paused, or unknown."""
        return STATES.get(self.code, "unknown")

    @property
    def is_fault(self) -> bool:
        return self.code in FAULT_CODES

    @classmethod
    def parse(cls, raw: bytes) -> "Status":
        if len(raw) < 2 or raw[:1] != ACK:
            raise ValueError(f"not a status reply: {raw!r}")
        code = raw[1:2].decode("latin-1")
        if code not in FAULT_CODES:
            if len(raw) != 2:
                raise ValueError(f"unexpected bytes after the status: {raw!r}")
            return cls(raw, code)
        if raw[2:3] != STX or raw[-1:] != ETX:
            raise ValueError(f"a fault reply is framed by STX and ETX: {raw!r}")
        body = raw[3:-1].decode("latin-1")
        return cls(raw, code, body[:ERROR_CODE_WIDTH].rstrip(), body[ERROR_CODE_WIDTH:])


class Field(NamedTuple):
    """One field of a format: position in 0.1 mm, font 0 or 1, pitch in 1/140 inch."""

    y: int
    x: int
    font: int = 0
    pitch: int = 14

    def record(self) -> bytes:
        """The 15-character field record."""
        return f" 0{self.y:03d} {self.x:03d} {self.font}  {self.pitch:02d}".encode("ascii")


FieldLike = Union[Field, Sequence[int], bytes, str]


def _record(field: FieldLike) -> bytes:
    if isinstance(field, bytes):
        return field
    if isinstance(field, str):
        return field.encode("latin-1")
    return Field(*field).record()


def format_message(height: int, width: int, fields: Iterable[FieldLike]) -> bytes:
    """A format definition: the card's height and width in 0.1 mm, then the field records
    (each a Field, a (y, x, font, pitch) tuple, or a ready 15-character record)."""
    body = f"  {height:04d}  {width:04d}".encode("ascii") + b"".join(_record(f) for f in fields)
    return SOH + STATION + STX + b"F]00 U0 " + body + ETX


def emboss_message(lines: Iterable[str], tag: str) -> bytes:
    """Emboss data: one line of text per field, then the job's tag."""
    text = "".join(line + "\r\n" for line in lines) + "@" + tag
    return SOH + STATION + STX + b"T]00" + text.encode("cp1252") + ETX
