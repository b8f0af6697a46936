"""pytest plugin: the `vorlak` fixture, a running Simulator for each test.

    def test_fresh_machine(vorlak):
        assert vorlak.host().poll().state == "powered_on"

Options: --vorlak PATH (else $VORLAK, else vorlak on the PATH), --vorlak-speed F (default 20).
What the program wrote on stderr shows in the report of a failed test.
"""

import sys

import pytest

from .simulator import Simulator, SimulatorError, find_vorlak


def pytest_addoption(parser):
    group = parser.getgroup("vorlak", "Vorlak card embosser simulator")
    group.addoption("--vorlak", default=None, help="the vorlak program (default: $VORLAK, "
                    "else vorlak on the PATH)")
    group.addoption("--vorlak-speed", type=float, default=20.0,
                    help="divides the machine's waits (default 20)")


@pytest.fixture(scope="session")
def vorlak_program(pytestconfig):
    """The path of the program the `vorlak` fixture starts."""
    try:
        return find_vorlak(pytestconfig.getoption("--vorlak"))
    except SimulatorError as e:
        pytest.fail(str(e), pytrace=False)


@pytest.fixture
def vorlak(vorlak_program, pytestconfig):
    """A headless simulator of its own, with its own data folder and free ports."""
    sim = Simulator(vorlak_program, speed=pytestconfig.getoption("--vorlak-speed"))
    sim.start()
    try:
        yield sim
    finally:
        sim.stop()
        # Captured with the teardown: pytest shows it in the report of a failed test.
        sys.stderr.write(sim.stderr)
