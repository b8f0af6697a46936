#!/bin/sh
# Pictures of the setup dialog, the traffic monitor (with a host session in it) and the About
# box, taken on a virtual X display (Xvfb, xcb platform) with QWidget::grab().
# Usage: tools/screenshot-dialogs.sh [output folder]
# Needs xvfb and xauth; run tools/build.sh first (it links the dialogs, widgets and common
# libraries from build/).
set -e
cd "$(dirname "$0")/.."
OUT=${1:-/tmp/vorlak-dialogs}
mkdir -p "$OUT"
SHOOTER=build/tools/shoot_dialogs
mkdir -p build/tools
# shellcheck disable=SC2046
c++ -std=c++17 -fPIC -O1 -Idialogs -Iwidgets -Iapp tools/screenshots/shoot_dialogs.cpp \
    build/dialogs/libdialogs.a build/widgets/libwidgets.a build/common/libcommon.a \
    $(pkg-config --cflags --libs Qt6Widgets Qt6Test) -o "$SHOOTER"
xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$SHOOTER" "$OUT"
