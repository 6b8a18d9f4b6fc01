#!/usr/bin/env bash
# Installs what is missing, builds, and starts the converter with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh" >&2
build=$("$root/scripts/build.sh" | tail -n 1)
exec "$build/bin/tovrin-convert" "$@"
