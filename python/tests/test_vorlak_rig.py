"""The client package against the real program (--vorlak PATH or $VORLAK or the PATH)."""

import os
import socket
import time

import pytest

import vorlak_rig
from vorlak_rig import (ControlError, Field, HostError, Simulator, SimulatorError,
                        Status, find_vorlak, format_message)

FAULT_REPLIES = [
    ("feeder_empty", b"\x063\x02E82        FEEDER EMPTY\x03", "3", "E82", "FEEDER EMPTY"),
    ("card_misfeed", b"\x063\x02E00005E74  CARD MISFEED\x03", "3", "E00005E74", "CARD MISFEED"),
    ("y_motor_error", b"\x065\x02E00053E71  Y MOTOR EMBOSS ERROR\x03", "5", "E00053E71",
     "Y MOTOR EMBOSS ERROR"),
    ("x_motor_error", b"\x063\x02E79        X MOTOR MOV ERROR\x03", "3", "E79",
     "X MOTOR MOV ERROR"),
]


def make_ready(sim):
    sim.control.press("clear")
    sim.control.wait_idle(10000)


def test_fresh_machine_then_clear(vorlak):
    host = vorlak.host()
    status = host.poll()
    assert (status.raw, status.state) == (b"\x06P", "powered_on")
    make_ready(vorlak)
    assert host.poll() == Status(b"\x061", "1")


@pytest.mark.parametrize("fault,raw,code,error_code,text", FAULT_REPLIES,
                         ids=[row[0] for row in FAULT_REPLIES])
def test_fault_replies_read_to_their_end(vorlak, fault, raw, code, error_code, text):
    make_ready(vorlak)
    host = vorlak.host()
    assert vorlak.control.set_fault(fault, True)[fault] is True
    status = host.poll()
    assert (status.raw, status.code, status.error_code, status.text) == (raw, code, error_code, text)
    assert status.is_fault and status.state == "fault"
    # The whole reply was read: the next poll gets a reply of its own, not the rest of this one.
    vorlak.control.set_fault(fault, False)
    assert host.poll().raw == b"\x061"


def test_job_through_host_and_control(vorlak):
    make_ready(vorlak)
    host = vorlak.host()
    assert host.send_format(540, 856, [Field(100, 50, 0, 14), (200, 50, 1, 14)]).state == "busy"
    assert host.send_emboss(["HELLO", "RIG"], "00042").raw == b"\x062"
    vorlak.control.wait_idle(60000)
    state = vorlak.control.state()
    assert state["panels"][3] == "00042"
    assert state["format"]["count"] == 2
    assert "".join(g["char"] for g in vorlak.control.glyphs()) == "EGHILLOR"
    # The control port writes only below its export folder, by default the data folder.
    card = os.path.join(vorlak.data_dir, "card.png")
    vorlak.control.save_card(card)
    with open(card, "rb") as picture:
        assert picture.read(8) == b"\x89PNG\r\n\x1a\n"
    assert host.poll().state == "ready"


def test_three_lines_on_two_fields_are_diagnosed(vorlak):
    host = vorlak.host()
    host.send_format(540, 856, [Field(100, 50, 0, 14), (200, 50, 1, 14)])
    host.send_emboss(["A", "B", "C"], "00043")
    vorlak.control.wait_idle(60000)
    codes = [d["code"] for d in vorlak.control.diagnostics(clear=True)]
    assert codes == ["line_beyond_count", "conversion_error"]
    assert vorlak.control.diagnostics() == []


def test_host_reset_request_is_recognised_on_its_own(vorlak):
    make_ready(vorlak)
    host = vorlak.host()
    vorlak.control.press("pause")
    vorlak.control.wait_idle(5000)
    assert host.poll().state == "paused"
    host.reset()  # clears Pause and runs the 2-second reset sequence; no reply
    # Polled too early, the reset could still be unread and share the poll's chunk: ask the
    # control port whether the machine took it.
    deadline = time.monotonic() + 30
    while vorlak.control.state()["flags"]["paused"]:
        assert time.monotonic() < deadline, "the reset request was not taken"
        time.sleep(0.01)
    vorlak.control.wait_idle(10000)
    assert host.poll().state == "ready"


def test_unanswered_poll_raises_instead_of_hanging(vorlak):
    host = vorlak.host(timeout=0.5)
    vorlak.control.ignore_polls(1)
    with pytest.raises(HostError, match="no reply"):
        host.poll()
    # The late poll was consumed and never answered: the next one is answered normally.
    assert host.poll(timeout=5).state == "powered_on"


def test_closed_link_raises(vorlak):
    host = vorlak.host()
    assert vorlak.control.disconnect_host() == 1
    with pytest.raises((HostError, OSError)):
        host.poll(timeout=5)


@pytest.mark.parametrize("call,text", [
    (lambda c: c.press("fly"), "press: button must be reset, pause or clear"),
    (lambda c: c.set_fault("nothing", True), "set_fault: needs fault"),
    (lambda c: c.reply_delay(-1), "reply_delay: needs ms >= 0"),
    (lambda c: c.request("fly"), "unknown command: fly"),
])
def test_error_replies_raise_with_their_text(vorlak, call, text):
    with pytest.raises(ControlError) as caught:
        call(vorlak.control)
    assert caught.value.text.startswith(text)
    assert caught.value.reply["ok"] is False
    assert vorlak.control.faults()["feeder_empty"] is False  # the connection goes on


def test_link_faults_and_monitor(vorlak):
    vorlak.control.monitor(True)
    host = vorlak.host()
    host.poll()
    logs = vorlak.control.logs(clear=True)
    assert "#4" in logs["rx"] and "#6" in logs["tx"]
    assert vorlak.control.logs()["rx"] == ""
    vorlak.control.reply_delay(200)
    assert host.poll().state == "powered_on"
    vorlak.control.reply_delay(0)
    assert vorlak.control.clear_logs()["ok"]


@pytest.mark.parametrize("call", [lambda c: c.errors(), lambda c: c.errors(clear=True),
                                  lambda c: c.dismiss_error()],
                         ids=["errors", "errors_clear", "dismiss_error"])
def test_error_list_commands(vorlak, call):
    try:
        reply = call(vorlak.control)
    except ControlError as e:
        if e.unknown_command:
            pytest.skip(f"this vorlak does not know the command: {e.text}")
        raise
    assert reply["ok"] is True


def test_save_card_only_below_the_export_folder(vorlak_program, tmp_path):
    (tmp_path / "out").mkdir()
    with Simulator(vorlak_program, export_dir=tmp_path / "out") as sim:
        assert sim.control.save_card(tmp_path / "out" / "card.png")["ok"] is True
        with pytest.raises(ControlError, match="outside the export folder"):
            sim.control.save_card(os.path.join(sim.data_dir, "card.png"))
    assert (tmp_path / "out" / "card.png").read_bytes()[:4] == b"\x89PNG"
    assert not (tmp_path / "card.png").exists()


def test_simulator_cleans_up_and_keeps_stderr(vorlak_program):
    with Simulator(vorlak_program) as sim:
        data_dir, pid = sim.data_dir, sim.process.pid
        assert os.path.isfile(os.path.join(data_dir, "Vorlak.ini"))
        sim.host().poll()
    assert sim.process.returncode == 0
    assert not os.path.exists(data_dir)
    assert "control port listening on 127.0.0.1:" in sim.stderr
    with pytest.raises(ProcessLookupError):
        os.kill(pid, 0)
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", sim.control_port), timeout=1)


def test_a_taken_machine_port_is_left_for_another(vorlak_program, monkeypatch):
    # The first port the rig picks is taken before the program can listen on it, as another
    # process may take it: the rig starts the program again on the next, and the host talks
    # to the simulator, not to the occupant.
    with socket.socket() as occupant:
        occupant.bind(("0.0.0.0", 0))
        occupant.listen()
        taken = occupant.getsockname()[1]
        picks = iter([taken])
        real_free_port = vorlak_rig.simulator.free_port
        monkeypatch.setattr(vorlak_rig.simulator, "free_port",
                            lambda: next(picks, None) or real_free_port())
        with Simulator(vorlak_program) as sim:
            assert sim.host_port != taken
            assert sim.host().poll().raw == b"\x06P"


def test_two_simulators_side_by_side(vorlak_program):
    with Simulator(vorlak_program) as a, Simulator(vorlak_program) as b:
        assert a.host_port != b.host_port and a.control_port != b.control_port
        make_ready(a)
        a.control.set_fault("feeder_empty", True)
        assert a.host().poll().is_fault
        assert b.host().poll().state == "powered_on"


def test_program_that_does_not_start(tmp_path):
    fake = tmp_path / "vorlak"
    fake.write_text("#!/bin/sh\necho 'vorlak: cannot open the control port' >&2\nexit 2\n")
    fake.chmod(0o755)
    with pytest.raises(SimulatorError, match="cannot open the control port"):
        with Simulator(str(fake), start_timeout=10):
            pass
    with pytest.raises(SimulatorError, match="not an executable"):
        find_vorlak(str(tmp_path / "missing"))


@pytest.mark.parametrize("raw", [b"", b"\x15", b"\x061x", b"\x063E82", b"\x063\x02E82"])
def test_malformed_replies_are_refused(raw):
    with pytest.raises(ValueError):
        Status.parse(raw)


def test_format_message_bytes():
    assert format_message(540, 856, [Field(100, 50, 0, 14), b" 0200 050 1  14"]) == (
        b"\x0131\x02F]00 U0   0540  0856 0100 050 0  14 0200 050 1  14\x03")


def test_fixture_reports_the_programs_stderr_with_a_failure(pytester, vorlak_program,
                                                             monkeypatch):
    # The inner pytest runs elsewhere: it finds the package where this one was imported from.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(vorlak_rig.__file__)))
    monkeypatch.setenv("PYTHONPATH", package_parent)
    pytester.makepyfile(
        """
        def test_passes(vorlak):
            assert vorlak.host().poll().state == "powered_on"

        def test_fails(vorlak):
            assert vorlak.host().poll().state == "ready"
        """)
    result = pytester.runpytest_subprocess("-p", "vorlak_rig.pytest_plugin", "-p",
                                           "no:cacheprovider", f"--vorlak={vorlak_program}")
    result.assert_outcomes(passed=1, failed=1)
    result.stdout.fnmatch_lines(["*Captured stderr teardown*", "*control port listening on*"])
    assert result.stdout.str().count("control port listening on") == 1  # only the failure's
