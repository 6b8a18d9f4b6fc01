#!/usr/bin/env bash
# Configures and builds into a build folder: build/ normally, build-<sanitizers>/
# when TOVRIN_SANITIZE is set (e.g. address,undefined or thread).
# TOVRIN_BUILD_TARGETS limits the build to the named targets.
# Prints the build folder on its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${TOVRIN_SANITIZE:-}
build="$root/build"
[[ -n "$sanitize" ]] && build="$root/build-${sanitize//,/-}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${TOVRIN_BUILD_TYPE:-RelWithDebInfo}" \
  -DTOVRIN_SANITIZE="$sanitize" -DTOVRIN_BUILD_BENCH="${TOVRIN_BUILD_BENCH:-ON}" >/dev/null
targets=()
for target in ${TOVRIN_BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}" >&2
echo "$build"
