#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) into build-fuzz/ and runs each of them for
# SECONDS seconds, one after another, starting from the committed seed corpus.
#
#   fuzz/run.sh SECONDS [TARGET...]        (default: every target)
#
# Inputs that found new paths go to fuzz/corpus-work/<target>/ (not committed); a crash, hang or
# sanitizer report leaves its input in fuzz/findings/ and makes the script fail. Reproduce one
# with: build-fuzz/fuzz/<target> fuzz/findings/<file>
set -e
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2; exit 2; }
seconds=$1
shift
targets=${*:-"fuzz_dispatcher fuzz_decoder fuzz_inifile fuzz_controlcommands"}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORLAK_FUZZ=ON -DVORLAK_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target $targets

mkdir -p fuzz/findings
export QT_QPA_PLATFORM=offscreen
# Qt itself is not instrumented; fontconfig keeps its caches until exit (fuzz/lsan.supp).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in $targets; do
    work=fuzz/corpus-work/$target
    mkdir -p "$work"
    # A target with its own dictionary (fuzz/<target>.dict) uses it; the others share one.
    dict=fuzz/protocol.dict
    [ -f fuzz/"$target".dict ] && dict=fuzz/"$target".dict
    echo "== $target: $seconds s"
    if ! build-fuzz/fuzz/"$target" "$work" fuzz/corpus/"$target" \
        -dict="$dict" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix=fuzz/findings/"$target"- \
        > "fuzz/findings/$target.log" 2>&1; then
        echo "   FINDING: see fuzz/findings/$target.log"
        status=1
    fi
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)" \
        "fuzz/findings/$target.log" | sed 's/^/   /'
done
exit $status
