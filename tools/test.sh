#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite with CTest.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh --browser-test
tools/build.sh
cd build
ctest --output-on-failure --no-tests=error -j2 --timeout 300
