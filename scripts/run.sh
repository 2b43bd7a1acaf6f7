#!/usr/bin/env bash
# Sets up, builds and starts the recorder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
exec "${QUAVREL_BUILD_DIR:-$root/build}/quavrel" "$@"
