#!/bin/sh
# Builds the generators in tools/resourcegen and runs every one of them, writing into resources/.
# The results are committed; run this after changing a generator.
set -e
cd "$(dirname "$0")/.."
build=build-resourcegen
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAK_RESOURCEGEN=ON \
    -DVORLAK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2
for generator in "$build"/tools/resourcegen/gen_*; do
    [ -f "$generator" ] && [ -x "$generator" ] || continue
    echo "$(basename "$generator") -> resources/"
    QT_QPA_PLATFORM=offscreen "$generator" resources
done
# The live page draws its display with the window's glyphs.
echo "gen_web_font.py -> resources/web/app.js"
python3 tools/gen_web_font.py
