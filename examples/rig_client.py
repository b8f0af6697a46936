#!/usr/bin/env python3
"""Example test-rig client for the Vorlak embosser simulator, using the vorlak_rig package.

Starts the simulator headless, plays the host (a format and emboss data over the machine's TCP
port), waits for the job through the control port, and checks the struck glyphs and the card.

    python3 examples/rig_client.py --vorlak build/app/vorlak [--speed 20]

Exits with 0 when every check passed.
"""
import argparse
import os
import sys

# Runs from the source tree as well as with the package installed (pip install ./python).
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from vorlak_rig import Field, Simulator  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vorlak", default=None, help="the program (default: $VORLAK or PATH)")
    parser.add_argument("--speed", type=float, default=20, help="machine waits divided by this")
    args = parser.parse_args()

    with Simulator(args.vorlak, speed=args.speed) as sim:
        host, control = sim.host(), sim.control
        assert host.poll().state == "powered_on", "a fresh machine reports POWERED ON"
        control.press("clear")
        control.wait_idle(10000)
        assert host.poll().state == "ready", "after Clear the machine is READY"

        control.set_fault("feeder_empty", True)
        assert host.poll().raw == b"\x063\x02E82        FEEDER EMPTY\x03"
        control.set_fault("feeder_empty", False)

        # An 85.6 x 54.0 mm card with two fields, then the text of each and the job's tag.
        fields = [Field(y=100, x=50, font=0, pitch=14), Field(y=200, x=50, font=1, pitch=14)]
        assert host.send_format(540, 856, fields).state == "busy"
        assert host.send_emboss(["HELLO", "RIG"], "00042").state == "busy"
        control.wait_idle(60000)

        assert control.state()["panels"][3] == "00042"
        chars = "".join(g["char"] for g in control.glyphs())
        # Character-wheel order: every E, then every G, ..., whatever the field.
        assert chars == "".join(sorted("HELLORIG")), chars
        saved = control.save_card(os.path.join(sim.data_dir, "card.png"))
        with open(saved["path"], "rb") as f:
            assert f.read(8) == b"\x89PNG\r\n\x1a\n"
        print(f"struck {chars} on a {saved['width_px']} x {saved['height_px']} card: "
              "all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
