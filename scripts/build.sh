#!/usr/bin/env bash
# Configures and builds into a build folder: build/ normally, build-<sanitizers>/
# when TOVRIN_SANITIZE is set (e.g. address,undefined or thread).
# Prints the build folder on its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${TOVRIN_SANITIZE:-}
build="$root/build"
[[ -n "$sanitize" ]] && build="$root/build-${sanitize//,/-}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${TOVRIN_BUILD_TYPE:-RelWithDebInfo}" \
  -DTOVRIN_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
echo "$build"
