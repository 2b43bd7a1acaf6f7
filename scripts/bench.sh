#!/usr/bin/env bash
# Sets up, builds and runs every benchmark (build/bench/bench_*); extra args select by name.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUAVREL_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"

status=0
shopt -s nullglob
for bench in "$build"/bench/bench_*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  name=$(basename "$bench")
  if [ $# -gt 0 ] && [[ ! " $* " == *" ${name#bench_} "* && ! " $* " == *" $name "* ]]; then
    continue
  fi
  echo "== $name"
  "$bench" || status=1
done
exit $status
