#!/usr/bin/env bash
# Sets up, builds and runs every test against a private PulseAudio daemon; then the unit tests
# that need no sound server once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own (QUAVREL_ASAN_BUILD_DIR, default
# build-asan beside the build); then the tests that talk to a sound server (label "server")
# again against a private PipeWire. A failure in any pass fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}
asan=${QUAVREL_ASAN_BUILD_DIR:-$build-asan}
export QUAVREL_BUILD_DIR=$build
"$root/scripts/setup.sh" --tests

# A finding of either sanitizer ends the process with an error, which fails its test; leaks
# are reported at exit, except those of the libraries listed in tests/lsan.supp.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUAVREL_SANITIZE=ON -DQUAVREL_BENCH=OFF >/dev/null
cmake --build "$asan" -j"$(nproc)"

state=$(mktemp -d /tmp/quavrel-test.XXXXXX)
daemon=""
. "$root/scripts/daemon-lib.sh"
cleanup() {
  stop_daemon
  rm -rf "$state"
}
trap cleanup EXIT

export QUAVREL_TEST_OUTPUT="${QUAVREL_TEST_OUTPUT:-$build/test-output}"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$QUAVREL_TEST_OUTPUT"

# Points the tests at the server whose state is in DIR: its FIFOs feed the default source
# ("PipeSource") and a second one, not the default ("PipeSource2").
use_server() { # NAME DIR
  export QUAVREL_TEST_SERVER=$1
  export XDG_RUNTIME_DIR="$2/runtime"
  # The program lets libpulse start a server for an ordinary user; tests only ever use ours.
  export PULSE_CLIENTCONFIG="$2/client.conf"
  export QUAVREL_TEST_PULSE_DIR=$2
  export QUAVREL_TEST_FIFO="$2/pipesrc.fifo"
  export QUAVREL_TEST_FIFO2="$2/pipesrc2.fifo"
}

status=0
daemon=$("$root/scripts/pulse-daemon.sh" "$state/pulse" --second-pipe)
use_server pulseaudio "$state/pulse"
echo "== Every test, on PulseAudio"
(cd "$build" && ctest --output-on-failure "$@") || status=1
# The programs the end-to-end and set-up tests drive are checked by the first pass.
echo "== Unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
(cd "$asan" && ctest --output-on-failure -LE server -E '^(EndToEnd|Install|Setup)\.' "$@") || status=1
stop_daemon

daemon=$("$root/scripts/pipewire-daemon.sh" "$state/pipewire" --second-pipe)
use_server pipewire "$state/pipewire"
echo "== Sound-server tests, on PipeWire"
# No case is run twice. pw-cat, which plays the FIFOs into the virtual microphones, freezes
# when the graph's quantum goes down and up again within milliseconds (PipeWire 0.3.65), and the
# test then hears silence; the program's streams never do that to the graph, so a case that
# hears silence here has found a fault, in the program or in the rig, that a rerun would hide.
# quavrel_pwfeed says in the server's log when its player took nothing for a while.
(cd "$build" && ctest --output-on-failure -L server "$@") || status=1
if grep -q "took nothing" "$state/pipewire/daemon.log"; then
  grep "took nothing" "$state/pipewire/daemon.log"
fi
exit "$status"
