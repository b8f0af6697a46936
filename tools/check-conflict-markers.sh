#!/bin/sh
# Fails when a committed file holds a line of a merge conflict (<<<<<<< / ======= / >>>>>>>).
cd "$(dirname "$0")/.."
if git grep -nI -E '^(<{7}|>{7})( |$)|^={7}$' -- . ; then
    echo "merge-conflict markers are committed (above)" >&2
    exit 1
fi
