#!/usr/bin/env bash
# Sets up, builds and runs every benchmark (build/bench/bench_*) against a private PulseAudio
# daemon whose pipe source the recording benchmark feeds, and bench_recording again against a
# private PipeWire (its virtual microphone fed the same way); extra args select by name.
#   scripts/bench.sh                 all of them
#   scripts/bench.sh recording       only bench_recording
#   scripts/bench.sh --readme        bench_recording, and its tables (both servers) rewritten into README.md
# bench_recording's own options pass through, for a quicker look:
#   scripts/bench.sh recording --seconds 10 --runs 1 --room-seconds 20
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}

readme=0
names=()
recording_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --readme) readme=1; names+=(recording) ;;
    --seconds|--runs|--room-seconds|--stall)
      [ $# -ge 2 ] || { echo "$1 needs a value" >&2; exit 2; }
      recording_args+=("$1" "$2"); shift ;;
    *) names+=("$1") ;;
  esac
  shift
done

mapfile -t wanted < <(grep -v '^\s*#' "$root/scripts/bench-packages.txt" | grep -v '^\s*$')
"$root/scripts/install-packages.sh" "${wanted[@]}"
"$root/scripts/setup.sh" --tests

state=$(mktemp -d /tmp/quavrel-bench.XXXXXX)
daemon=""
. "$root/scripts/daemon-lib.sh"
cleanup() {
  stop_daemon
  rm -rf "$state"
}
trap cleanup EXIT
export QUAVREL_BUILD_DIR=$build

# Runs the selected benchmarks against the server whose state is in DIR; the recording
# benchmark, which measures the server too, on each server, the others once.
run_benchmarks() { # SERVER DIR PIDS FIRST
  export XDG_RUNTIME_DIR="$2/runtime" PULSE_CLIENTCONFIG="$2/client.conf"
  export QUAVREL_BENCH_FIFO="$2/pipesrc.fifo"
  export QUAVREL_BENCH_SERVER=$1 QUAVREL_BENCH_SERVER_PIDS=$3
  local bench name args
  for bench in "$build"/bench/bench_*; do
    [ -x "$bench" ] && [ -f "$bench" ] || continue
    name=$(basename "$bench")
    if [ ${#names[@]} -gt 0 ] && [[ ! " ${names[*]} " == *" ${name#bench_} "* && ! " ${names[*]} " == *" $name "* ]]; then
      continue
    fi
    [ "$name" = bench_recording ] || [ "$4" = 1 ] || continue
    echo "== $name on $1"
    args=()
    [ "$name" = bench_recording ] && args=("${recording_args[@]}")
    [ "$name" = bench_recording ] && [ "$readme" -eq 1 ] && args+=(--table "$state/table-$1.md")
    "$bench" "${args[@]}" || status=1
  done
}

status=0
shopt -s nullglob
daemon=$("$root/scripts/pulse-daemon.sh" "$state/pulse")
run_benchmarks PulseAudio "$state/pulse" "$daemon" 1
stop_daemon
daemon=$("$root/scripts/pipewire-daemon.sh" "$state/pipewire")
run_benchmarks PipeWire "$state/pipewire" "$(cat "$state/pipewire/server.pids")" 0
stop_daemon

if [ "$readme" -eq 1 ]; then
  [ -s "$state/table-PulseAudio.md" ] && [ -s "$state/table-PipeWire.md" ] \
    || { echo "no table was written for one of the servers" >&2; exit 1; }
  { cat "$state/table-PulseAudio.md"; echo; cat "$state/table-PipeWire.md"; } > "$state/table.md"
  # The table lives between two marker lines; everything else in the README stays as it is.
  awk -v table="$state/table.md" '
    /<!-- bench-table:begin -->/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
    /<!-- bench-table:end -->/ { skip = 0 }
    !skip { print }' "$root/README.md" > "$state/README.md"
  grep -q '<!-- bench-table:end -->' "$state/README.md" || { echo "README.md has no table markers" >&2; exit 1; }
  cp "$state/README.md" "$root/README.md"
  echo "README.md: table rewritten"
fi
exit $status
