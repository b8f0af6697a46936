"""Drive the Vorlak card embosser simulator from Python: the host link, the control port and
the program itself, standard library only."""

from .control import Control, ControlError
from .host import Host, HostError
from .protocol import Field, Status, emboss_message, format_message
from .simulator import Simulator, SimulatorError, find_vorlak

__all__ = [
    "Control", "ControlError", "Field", "Host", "HostError", "Simulator", "SimulatorError",
    "Status", "emboss_message", "find_vorlak", "format_message",
]
