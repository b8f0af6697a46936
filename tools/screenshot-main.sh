#!/bin/sh
# Takes a screenshot of the main window on a virtual X display (Xvfb, xcb platform).
# Usage: tools/screenshot-main.sh [output.png] [seconds to wait] [extra vorlak args...]
# OPEN_MENU=1 opens "Datei" with the mouse and highlights its last entry ("Beenden") with the
# keyboard before the picture is taken.
# Needs xvfb, xauth and imagemagick (import), xdotool for OPEN_MENU. Builds nothing: run
# tools/build.sh first.
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
    if [ -n '${OPEN_MENU:-}' ]; then
        xdotool mousemove 20 13 click 1
        sleep 0.5
        xdotool key Up
        sleep 0.5
    fi
    import -window root '$OUT'
    kill \$PID
"
rm -rf "$DATA"
echo "$OUT"
