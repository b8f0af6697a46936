#!/bin/sh
# Takes a screenshot of the main window on a virtual X display (Xvfb, xcb platform).
# Usage: tools/screenshot-main.sh [output.png] [seconds to wait] [extra vorlak args...]
# Needs xvfb, xauth and imagemagick (import). Builds nothing: run tools/build.sh first.
set -e
cd "$(dirname "$0")/.."
OUT=${1:-/tmp/vorlak-main.png}
WAIT=${2:-2}
[ $# -ge 2 ] && shift 2 || shift $#
DATA=$(mktemp -d)
xvfb-run -a -s "-screen 0 800x640x24" sh -c "
    QT_QPA_PLATFORM=xcb ./build/app/vorlak --data-dir '$DATA' $* &
    PID=\$!
    sleep $WAIT
    import -window root '$OUT'
    kill \$PID
"
rm -rf "$DATA"
echo "$OUT"
