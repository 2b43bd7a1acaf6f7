#!/usr/bin/env bash
# The real program without any sound server: it says so in a box and, once the box is
# closed, ends with a non-zero status and leaves recorder.ini as it was.
# Usage: nodevice_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
wmclose=$2
. "$(dirname "$0")/lib.sh"
e2e_require_tools xvfb-run xdotool import
e2e_under_xvfb "$@"

e2e_work nodevice-e2e
mkdir runtime && chmod 700 runtime
printf '[Format]\nDevice=Some Mic\n' > recorder.ini
cp recorder.ini before.ini

# A runtime folder with no sound server in it: the service finds no device.
XDG_RUNTIME_DIR="$work/runtime" PULSE_SERVER="unix:$work/runtime/none" QT_QPA_PLATFORM=xcb "$bin" >app.log 2>&1 &
app=$!
box=$(e2e_wait_window)
[ -n "$box" ] || { echo "no box"; cat app.log; exit 1; }
sleep 0.3
import -window root "$out/e2e-nodevice.png"
"$wmclose" "$box"
for _ in $(seq 1 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "the program did not end"; exit 1; fi
status=0; wait "$app" || status=$?
app=""
[ "$status" -ne 0 ] || { echo "FAIL: exit status 0"; exit 1; }
cmp -s recorder.ini before.ini || { echo "FAIL: recorder.ini changed"; cat recorder.ini; exit 1; }
echo "ok (exit status $status)"
