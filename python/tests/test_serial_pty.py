"""A host on the simulator's own virtual serial line (--serial-pty), through pyserial."""

import os

import pytest

from vorlak_rig import Simulator

serial = pytest.importorskip("serial", reason="pyserial missing (apt-get install python3-serial)")


def test_pyserial_polls_through_the_serial_pty(vorlak_program, tmp_path):
    link = tmp_path / "vorlak-host"
    with Simulator(vorlak_program, extra_args=["--serial-pty", str(link)]) as sim:
        assert os.path.islink(link)
        line = sim.control.state()["serial"]
        assert line["open"] is True and line["device"].startswith("/dev/pts/")
        assert os.readlink(link) != line["device"]  # the host's end is the other one
        with serial.Serial(str(link), 9600, bytesize=8, parity="N", stopbits=1,
                           timeout=5) as port:
            port.write(b"\x0431\x05")
            assert port.read(2) == b"\x06P"
            sim.control.press("clear")
            sim.control.wait_idle(10000)
            port.write(b"\x0431\x05")
            assert port.read(2) == b"\x061"
        # The TCP host is served as before, beside the serial one.
        assert sim.host().poll().state == "ready"
    assert sim.process.returncode == 0
    assert not os.path.lexists(link)
