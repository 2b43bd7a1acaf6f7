#!/usr/bin/env bash
# Sets up, builds and runs every test against a private PulseAudio daemon.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh" --tests

state=$(mktemp -d /tmp/quavrel-test.XXXXXX)
pid=$("$root/scripts/pulse-daemon.sh" "$state/pulse" --second-pipe)
cleanup() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$state/pulse/runtime"
# The program lets libpulse start a server for an ordinary user; tests only ever use ours.
export PULSE_CLIENTCONFIG="$state/pulse/client.conf"
export QUAVREL_TEST_PULSE_DIR="$state/pulse"
export QUAVREL_TEST_FIFO="$state/pulse/pipesrc.fifo"
# A second pipe source, not the default one, for tests of the chosen device.
export QUAVREL_TEST_FIFO2="$state/pulse/pipesrc2.fifo"
export QUAVREL_TEST_OUTPUT="${QUAVREL_TEST_OUTPUT:-$build/test-output}"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$QUAVREL_TEST_OUTPUT"
cd "$build"
ctest --output-on-failure "$@"
