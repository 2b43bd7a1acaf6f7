#!/usr/bin/env bash
# Sets up, builds and starts the recorder; says first when no sound server answers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
# The program's own box offers to try again once a server runs, so it starts regardless.
"$root/scripts/sound-server-check.sh" "$build/quavrel_soundcheck" || true
exec "$build/quavrel" "$@"
