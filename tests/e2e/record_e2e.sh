#!/usr/bin/env bash
# The real program under Xvfb, recording the test daemon's pipe source (a paced 1 kHz tone):
# record, pause, continue, stop, close. Checks the MP3 and recorder.ini; keeps a screenshot.
# Usage: record_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
wmclose=$2
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool import mpg123 sox
e2e_under_xvfb "$@"

e2e_work record-e2e

# 100 ms of a 1 kHz stereo tone (a whole number of periods), written every 100 ms.
sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw chunk.raw synth 0.1 sine 1000 vol 0.5
( exec 3>"$QUAVREL_TEST_FIFO"; while :; do cat chunk.raw >&3; sleep 0.1; done ) &
pids+=($!)

QT_QPA_PLATFORM=xcb "$bin" >app.log 2>&1 &
app=$!
pids+=($app)
wid=$(e2e_wait_window)
[ -n "$wid" ] || { echo "no window"; cat app.log; exit 1; }
sleep 0.5

# Button centres in window coordinates: record, pause (continue in its place), stop.
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
click 36 158; sleep 2
click 90 158; sleep 1
click 91 158; sleep 2
click 146 158; sleep 1
import -window root "$out/e2e-window.png"
"$wmclose" "$wid"

for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "the program did not end"; import -window root "$out/e2e-hang.png"; exit 1; fi
status=0; wait "$app" || status=$?
[ "$status" -eq 0 ] || { echo "exit status $status"; cat app.log; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
[ -s default.mp3 ] || fail "no MP3 written"
mpg123 -q -s default.mp3 > decoded.raw 2>/dev/null
bytes=$(stat -c %s decoded.raw)
# About four seconds of recording (two before the pause, two after), not five.
awk -v b="$bytes" 'BEGIN { s = b / (44100 * 4); printf "decoded %.2f s\n", s; exit !(s > 3.0 && s < 4.8) }' \
  || fail "wrong length"
cp default.mp3 "$out/e2e-recording.mp3"
stats=$(sox -t raw -r 44100 -e signed-integer -b 16 -c 2 decoded.raw -n remix 1 stat 2>&1)
freq=$(echo "$stats" | awk '/Rough[[:space:]]+frequency/ { print $3 }')
echo "rough frequency $freq"
awk -v f="$freq" 'BEGIN { exit !(f > 900 && f < 1100) }' || fail "no 1 kHz tone: $stats"

[ -f recorder.ini ] || fail "no recorder.ini"
keys=$(grep -c '=' recorder.ini)
[ "$keys" -eq 18 ] || fail "recorder.ini holds $keys keys"
for section in Format FileOutput Db; do grep -qx "\[$section\]" recorder.ini || fail "no [$section]"; done
grep -qx 'Device=PipeSource' recorder.ini || fail "device not stored: $(grep Device recorder.ini)"
grep -qx 'DeviceName=pipesrc' recorder.ini || fail "source name not stored: $(grep Device recorder.ini)"
cp recorder.ini "$out/e2e-recorder.ini"
echo "ok"
