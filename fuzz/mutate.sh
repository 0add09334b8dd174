#!/bin/sh
# mutate.sh [SECONDS] [PATH ...] --
#
#	The long mutation pass: builds velk_mutate in build/ (BUILD_DIR
#	overrides; a build-asan/ tree runs it under the sanitizers) and runs
#	it for SECONDS (default 600) over the fixtures, the fuzz seed corpus
#	and every file below the PATHs given (real rasters, where a machine
#	has them).  SEED (default 1) picks the damaged copies; findings go to
#	fuzz/findings-mutate/.  Exits non-zero when a copy failed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target velk_mutate -j"${JOBS:-2}" >/dev/null
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
exec "$build/tests/velk_mutate" -seed "${SEED:-1}" -seconds "$seconds" \
    -findings "$root/fuzz/findings-mutate" \
    "$root/tests/fixtures" "$root/fuzz/corpus" "$@"
