#!/bin/sh
# run.sh [SECONDS] [LIBFUZZER-OPTIONS...] --
#
#	Builds the fuzz targets with clang in build-fuzz/ (its own
#	configuration; the normal build is untouched) and runs each for
#	SECONDS (default 60): the image readers on the seed corpus
#	fuzz/corpus/, the expression parser on fuzz/corpus-expr/.  New inputs
#	collect in fuzz/corpus-run/ (fuzz/corpus-expr-run/), findings
#	(crash-*, leak-*, timeout-*, oom-*) in fuzz/findings/.  Exits non-zero
#	when a fuzzer finds something.  BUILD_DIR and JOBS override the build
#	directory and parallelism; TARGETS="image expr" chooses the targets.
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
cmake --build "$build" --target velk_fuzz velk_expr_fuzz -j"$jobs"

mkdir -p "$root/fuzz/findings"
cd "$root/fuzz"
# Leaks inside Tcl's own start-up are not ours.
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in ${TARGETS:-image expr}; do
    case $target in
    image) program=velk_fuzz corpus=corpus dict=velk.dict maxlen=65536 ;;
    expr) program=velk_expr_fuzz corpus=corpus-expr dict=expr.dict maxlen=4096 ;;
    *) echo "run.sh: unknown target $target" >&2; exit 2 ;;
    esac
    mkdir -p "$root/fuzz/$corpus-run"
    "$build/fuzz/$program" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=$maxlen -dict="$root/fuzz/$dict" \
        -artifact_prefix="$root/fuzz/findings/" -print_final_stats=1 \
        "$@" "$root/fuzz/$corpus-run" "$root/fuzz/$corpus"
done
