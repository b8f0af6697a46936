#!/bin/sh
# Installs the Debian 12 packages the simulator and its tests need; with --packaging also the
# tools that build the Debian package and check its files; with --browser-test also chromium,
# Node where none is installed, and the browser test's Node packages (tests/browser, npm ci)
# when they are missing or older than its lock file. Running the simulator needs neither.
# Runs apt-get only when something is missing; uses sudo when not root.
set -e
cd "$(dirname "$0")/.."
packaging=false
browser_test=false
for argument in "$@"; do
    case "$argument" in
    --packaging) packaging=true ;;
    --browser-test) browser_test=true ;;
    *)
        echo "usage: tools/install-deps.sh [--packaging] [--browser-test]" >&2
        exit 2
        ;;
    esac
done
PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev \
qt6-httpserver-dev qt6-websockets-dev \
qt6-image-formats-plugins qt6-translations-l10n fonts-liberation xvfb xauth socat python3 \
python3-pytest python3-venv python3-serial"
if $packaging; then
    PACKAGES="$PACKAGES dpkg-dev file desktop-file-utils appstream man-db"
fi
if $browser_test; then
    PACKAGES="$PACKAGES chromium"
fi
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# Node from Debian only where no node is installed at all (another one may bring its own npm).
if $browser_test; then
    command -v node >/dev/null 2>&1 || missing="$missing nodejs npm"
fi
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "Installing:$missing" >&2
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

$browser_test || exit 0
# The browser test's packages, as its lock file pins them (npm writes the marker last).
browser=tests/browser
if [ ! -f "$browser/node_modules/.package-lock.json" ] ||
   [ "$browser/package-lock.json" -nt "$browser/node_modules/.package-lock.json" ]; then
    if ! command -v npm >/dev/null 2>&1; then
        echo "install-deps: no npm beside node: the browser test's packages are not installed" >&2
        exit 1
    fi
    echo "Installing the browser test's Node packages (npm ci in $browser)" >&2
    # Run with sudo by a user: the packages in the user's tree stay the user's.
    AS_USER=""
    [ "$(id -u)" -eq 0 ] && [ -n "$SUDO_USER" ] && [ "$SUDO_USER" != root ] && AS_USER="sudo -u $SUDO_USER"
    (cd "$browser" && $AS_USER npm ci --no-audit --no-fund --loglevel=error)
fi
