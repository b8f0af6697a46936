#!/bin/sh
# Screenshot of the real program after a host has struck a job on it over TCP, under Xvfb.
# Usage: tools/screenshot-job.sh [output.png]    (build first: tools/build.sh)
#
# The program listens on its default port 10001. The run takes place in a network namespace of
# its own where it can (root, or unprivileged user namespaces), so that it neither collides with
# nor talks to a simulator already running on this machine; otherwise port 10001 must be free.
set -e
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-/tmp/vorlak-job.png}")
[ -x build/app/vorlak ] || { echo "build/app/vorlak missing: run tools/build.sh" >&2; exit 1; }
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
export VORLAK_OUT="$out" VORLAK_DATA="$data"

run='
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '\''
        ./build/app/vorlak --data-dir "$VORLAK_DATA" --speed 4 &
        pid=$!
        status=0
        python3 tools/emboss-host.py 127.0.0.1 10001 || status=$?
        [ $status -eq 0 ] && import -window root -crop 560x560+0+0 +repage "$VORLAK_OUT" || status=$?
        kill $pid
        wait $pid 2>/dev/null
        exit $status
    '\''
'
if unshare --net --map-root-user true 2>/dev/null; then
    unshare --net --map-root-user sh -c "ip link set lo up && $run"
else
    if python3 -c 'import socket; socket.create_connection(("127.0.0.1", 10001), 1)' 2>/dev/null; then
        echo "port 10001 is in use by another program; stop it first" >&2
        exit 1
    fi
    sh -c "$run"
fi
echo "$out"
