#!/bin/sh
# Installs the Debian 12 packages the simulator and its tests need; with --packaging also the
# tools that build the Debian package and check its files.
# Runs apt-get only when something is missing; uses sudo when not root.
set -e
PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-httpserver-dev qt6-websockets-dev \
qt6-image-formats-plugins qt6-translations-l10n fonts-liberation xvfb xauth socat python3 \
python3-pytest python3-venv python3-serial"
if [ "$1" = "--packaging" ]; then
    PACKAGES="$PACKAGES dpkg-dev file desktop-file-utils appstream man-db"
fi
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
