#!/bin/sh
# Checks an installed vorlak package from its installed files (CI runs it after apt-get install).
set -e
cd "$(dirname "$0")/.."
fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Vorlak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(vorlak --version)" = "vorlak $version" ] || fail "vorlak --version: $(vorlak --version)"
[ "$(command -v vorlak)" = /usr/bin/vorlak ] || fail "vorlak is not /usr/bin/vorlak"
for f in reset.wav Reset.wav Emboss.wav; do
    [ -f "/usr/share/vorlak/$f" ] || fail "/usr/share/vorlak/$f is missing"
    [ ! -e "/usr/bin/$f" ] || fail "/usr/bin/$f: sounds belong in /usr/share/vorlak"
done

# A headless start that answers a poll with ACK "P" and finds every sound file where it was
# installed (it names any it cannot find on stderr).
VORLAK=/usr/bin/vorlak PYTHONPATH=python python3 - <<'PY'
from vorlak_rig import Simulator
with Simulator() as sim:
    status = sim.host().poll()
    assert status.raw == b"\x06P", status
print(sim.stderr, end="")
assert "sound files" not in sim.stderr, "the installed program misses sound files"
PY

desktop-file-validate /usr/share/applications/vorlak.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.vorlak.Vorlak.metainfo.xml
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l /usr/share/man/man1/vorlak.1.gz 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"
LC_ALL=C.UTF-8 man -l /usr/share/man/man1/vorlak.1.gz | grep -q -- '--control-port' \
    || fail "the man page does not show the options"
# The template as an instance, as systemd would load it.
unit=$(mktemp -d)/vorlak@ci.service
cp /usr/lib/systemd/system/vorlak@.service "$unit"
systemd-analyze verify "$unit"
if [ -d resources/icons/hicolor ]; then
    for n in 16 24 32 48 64 128 256; do
        [ -f /usr/share/icons/hicolor/${n}x${n}/apps/vorlak.png ] || fail "icon ${n}x${n} is missing"
    done
fi
echo "check-package: the installed package passed every check"
