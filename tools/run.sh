#!/bin/sh
# Installs what is missing, builds, and starts the simulator.
# Extra arguments go to the program (see ./build/app/vorlak --help).
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
exec ./build/app/vorlak "$@"
