#!/usr/bin/env bash
# Installs what building and running need (with --tests also what the tests need), then
# configures and builds into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}

mapfile -t wanted < <("$root/scripts/packages.sh" "$@")
"$root/scripts/install-packages.sh" "${wanted[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build" -j"$(nproc)"
