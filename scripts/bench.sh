#!/usr/bin/env bash
# Sets up, builds and runs every benchmark (build/bench/bench_*) against a private PulseAudio
# daemon whose pipe source the recording benchmark feeds; extra args select by name.
#   scripts/bench.sh                 all of them
#   scripts/bench.sh recording       only bench_recording
#   scripts/bench.sh --readme        bench_recording, and its table rewritten into README.md
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}

readme=0
names=()
for arg in "$@"; do
  if [ "$arg" = "--readme" ]; then readme=1; names+=(recording); else names+=("$arg"); fi
done

mapfile -t wanted < <(grep -v '^\s*#' "$root/scripts/bench-packages.txt" | grep -v '^\s*$')
"$root/scripts/install-packages.sh" "${wanted[@]}"
"$root/scripts/setup.sh" --tests

state=$(mktemp -d /tmp/quavrel-bench.XXXXXX)
pid=$("$root/scripts/pulse-daemon.sh" "$state/pulse")
cleanup() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -rf "$state"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$state/pulse/runtime"
export PULSE_CLIENTCONFIG="$state/pulse/client.conf"
export QUAVREL_BENCH_FIFO="$state/pulse/pipesrc.fifo"

status=0
shopt -s nullglob
for bench in "$build"/bench/bench_*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  name=$(basename "$bench")
  if [ ${#names[@]} -gt 0 ] && [[ ! " ${names[*]} " == *" ${name#bench_} "* && ! " ${names[*]} " == *" $name "* ]]; then
    continue
  fi
  echo "== $name"
  args=()
  [ "$name" = bench_recording ] && [ "$readme" -eq 1 ] && args=(--table "$state/table.md")
  "$bench" "${args[@]}" || status=1
done

if [ "$readme" -eq 1 ]; then
  [ -s "$state/table.md" ] || { echo "no table was written" >&2; exit 1; }
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
