#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with CTest.
# Extra arguments go to ctest (e.g. -L unit, -R Probe).
# TOVRIN_SANITIZE=address,undefined ./test.sh runs the suite on a sanitizer build.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh"
build=$("$root/scripts/build.sh" | tail -n 1)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 600 "$@"
