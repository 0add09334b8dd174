#!/bin/sh
# run.sh [SECONDS] [LIBFUZZER-OPTIONS...] --
#
#	Builds the image fuzz target with clang in build-fuzz/ (its own
#	configuration; the normal build is untouched) and runs it for SECONDS
#	(default 60) on the seed corpus fuzz/corpus/.  New inputs collect in
#	fuzz/corpus-run/, findings (crash-*, leak-*, timeout-*, oom-*) in
#	fuzz/findings/.  Exits non-zero when the fuzzer finds something.
#	BUILD_DIR and JOBS override the build directory and parallelism.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
build=${BUILD_DIR:-$root/build-fuzz}
jobs=${JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
    mkdir -p "$build"
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_FUZZ=ON \
        -DVELK_TESTS=OFF -DVELK_BENCH=OFF >"$build/configure.log" 2>&1 || {
        cat "$build/configure.log"
        exit 1
    }
fi
cmake --build "$build" --target velk_fuzz -j"$jobs"

mkdir -p "$root/fuzz/corpus-run" "$root/fuzz/findings"
cd "$root/fuzz"
# Leaks inside Tcl's own start-up are not ours.
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
exec "$build/fuzz/velk_fuzz" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -dict="$root/fuzz/velk.dict" \
    -artifact_prefix="$root/fuzz/findings/" -print_final_stats=1 \
    "$@" "$root/fuzz/corpus-run" "$root/fuzz/corpus"
