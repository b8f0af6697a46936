#!/bin/sh
# A host polling the simulator over a virtual serial line, end to end:
# socat links two pseudo-terminals, the simulator (headless, control port) opens one end
# through its setup dialog's list (--serial-device), the host script writes polls into the other.
# Usage: tools/serial-demo.sh   (build first: tools/build.sh)
set -e
cd "$(dirname "$0")/.."
dir=$(mktemp -d)
trap 'kill $sim $link 2>/dev/null; rm -rf "$dir"' EXIT
socat pty,raw,echo=0,link="$dir/host" pty,raw,echo=0,link="$dir/machine" &
link=$!
while [ ! -e "$dir/machine" ]; do sleep 0.1; done
./build/app/vorlak --headless --data-dir "$dir" --serial-device "$dir/machine" --control-port 0 \
    2> "$dir/stderr" &
sim=$!
sleep 1
# The operator's choice: Datei > Maschinen Parameter, the port, OK. Headless, the same choice is
# made through the control port.
port=$(sed -n 's/.*control port listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$dir/stderr")
python3 - "$port" "$dir/machine" <<'PY'
import json, socket, sys
c = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
c.sendall(json.dumps({"cmd": "serial_port", "device": sys.argv[2]}).encode() + b"\n")
print("control:", c.makefile().readline().strip())
PY
python3 tools/serial-host.py "$dir/host" 3
