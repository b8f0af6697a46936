"""The simulator's control port: one JSON request per line, one JSON reply per line."""

import json
import socket
from typing import Any, Dict, Optional


class ControlError(Exception):
    """The simulator answered "ok": false. The message is the reply's error text."""

    def __init__(self, command: str, reply: Dict[str, Any]):
        self.command = command
        self.reply = reply
        self.text = str(reply.get("error", ""))
        super().__init__(self.text)

    @property
    def unknown_command(self) -> bool:
        """The program does not know this command (an older build)."""
        return self.text.startswith("unknown command")


class Control:
    """A connection to the control port (127.0.0.1 only). Each method sends one command and
    returns the reply as a dict; a reply with "ok": false raises ControlError."""

    def __init__(self, port: int, token: Optional[str] = None, timeout: float = 30.0):
        self.token = token
        self.timeout = timeout
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self._file = self.sock.makefile("rw", encoding="utf-8", newline="\n")

    def close(self) -> None:
        self._file.close()
        self.sock.close()

    def __enter__(self) -> "Control":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def request(self, cmd: str, timeout: Optional[float] = None, **args: Any) -> Dict[str, Any]:
        """Any command by name, for commands this class has no method for."""
        message = dict(cmd=cmd, **args)
        if self.token is not None:
            message["token"] = self.token
        self.sock.settimeout(self.timeout if timeout is None else timeout)
        self._file.write(json.dumps(message) + "\n")
        self._file.flush()
        line = self._file.readline()
        if not line:
            raise ConnectionError(f"{cmd}: the simulator closed the control connection")
        reply = json.loads(line)
        if not reply.get("ok"):
            raise ControlError(cmd, reply)
        return reply

    # The operator's panel.
    def press(self, button: str) -> Dict[str, Any]:
        """Clicks "reset", "pause" or "clear"; does not wait for the sequence it starts."""
        return self.request("press", button=button)

    def set_fault(self, fault: str, on: bool = True) -> Dict[str, bool]:
        """feeder_empty, card_misfeed, y_motor_error or x_motor_error; the four boxes after it."""
        return self.request("set_fault", fault=fault, on=on)["faults"]

    def faults(self) -> Dict[str, bool]:
        return self.request("faults")["faults"]

    def state(self) -> Dict[str, Any]:
        return self.request("state")

    def wait_idle(self, timeout_ms: int = 30000) -> Dict[str, Any]:
        """Returns once no job, reset or clear sequence runs; ControlError after timeout_ms."""
        return self.request("wait_idle", timeout=timeout_ms / 1000 + self.timeout,
                            timeout_ms=timeout_ms)

    def serial_port(self, device: str) -> Dict[str, Any]:
        """What the setup dialog's OK does with the serial port choice ("NONE" closes it)."""
        return self.request("serial_port", device=device)

    # What the machine did.
    def glyphs(self) -> list:
        """The glyphs of the last job in strike order: char, x, y, font_height, rotated."""
        return self.request("glyphs")["glyphs"]

    def save_card(self, path: str) -> Dict[str, Any]:
        return self.request("save_card", path=str(path))

    def monitor(self, show: bool) -> Dict[str, Any]:
        return self.request("monitor", show=show)

    def logs(self, clear: bool = False) -> Dict[str, Any]:
        """The traffic monitor's rx and tx text (it records only while shown)."""
        return self.request("logs", clear=clear) if clear else self.request("logs")

    def clear_logs(self) -> Dict[str, Any]:
        return self.request("clear_logs")

    def errors(self, clear: bool = False) -> Dict[str, Any]:
        """The errors the program reported (clear=True empties the list after reading)."""
        return self.request("errors", clear=True) if clear else self.request("errors")

    def dismiss_error(self) -> Dict[str, Any]:
        """Closes the error the program is showing, as its OK button would."""
        return self.request("dismiss_error")

    # Faults of the link, for hosts that must survive them.
    def reply_delay(self, ms: int) -> Dict[str, Any]:
        return self.request("reply_delay", ms=ms)

    def ignore_polls(self, count: int) -> Dict[str, Any]:
        return self.request("ignore_polls", count=count)

    def disconnect_host(self) -> int:
        """Closes every host connection; how many there were."""
        return self.request("disconnect_host")["closed"]

    # What the machine made of the host's data, and the jobs it archived (--job-dir).
    def diagnostics(self, clear: bool = False) -> list:
        """The diagnostics of the host's data, oldest first (clear=True empties the list)."""
        reply = self.request("diagnostics", clear=True) if clear else self.request("diagnostics")
        return reply["diagnostics"]

    def jobs(self) -> list:
        """The jobs archived so far; a ControlError without --job-dir."""
        return self.request("jobs")["jobs"]

    def quit(self) -> Dict[str, Any]:
        """Closes the program as the operator would (the settings file is written)."""
        return self.request("quit")
