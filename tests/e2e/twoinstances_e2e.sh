#!/usr/bin/env bash
# Two copies of the real program under Xvfb in one folder, both recording to default.mp3 from
# the test daemon's pipe source (a paced 1 kHz tone). The second one finds the name taken and
# records to default-2.mp3, leaving the first one's recording alone: it ends as a whole, tagged
# file of the length recorded. Usage: twoinstances_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
wmclose=$2
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool import mpg123 sox od
e2e_under_xvfb "$@"

e2e_work twoinstances-e2e
fail() { echo "FAIL: $*"; cat first.log second.log 2>/dev/null || true; exit 1; }

sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw chunk.raw synth 0.1 sine 1000 vol 0.5
( exec 3>"$QUAVREL_TEST_FIFO"; while :; do cat chunk.raw >&3; sleep 0.1; done ) &
pids+=($!)

# The visible "Quavrel" windows of one process (its main window, then any box).
windows_of() { xdotool search --all --onlyvisible --pid "$1" --name '^Quavrel$' 2>/dev/null || true; }
main_window_of() {
  local wid="" _
  for _ in $(seq 1 100); do
    wid=$(windows_of "$1" | head -1)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  printf '%s' "$wid"
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
now() { date +%s.%N; }

QT_QPA_PLATFORM=xcb "$bin" >first.log 2>&1 &
first=$!
pids+=($first)
wid1=$(main_window_of "$first")
[ -n "$wid1" ] || fail "the first program shows no window"
sleep 0.5
click "$wid1" 36 158
for _ in $(seq 1 50); do [ -s default.mp3 ] && break; sleep 0.1; done
[ -s default.mp3 ] || fail "the first recording did not start"
started=$(now)

QT_QPA_PLATFORM=xcb "$bin" >second.log 2>&1 &
second=$!
pids+=($second)
wid2=$(main_window_of "$second")
[ -n "$wid2" ] || fail "the second program shows no window"
sleep 0.5
before=$(stat -c %s default.mp3)
click "$wid2" 36 158
for _ in $(seq 1 50); do [ -s default-2.mp3 ] && break; sleep 0.1; done
[ -s default-2.mp3 ] || fail "the second recording did not start under the next free name"
sleep 1
import -window root "$out/e2e-two-instances.png"
after=$(stat -c %s default.mp3)
[ "$after" -gt "$before" ] || fail "the first recording stopped growing ($before then $after bytes)"
[ -z "$(windows_of "$second" | grep -v -x "$wid2" || true)" ] || fail "the second start showed a box"
click "$wid2" 146 158
sleep 0.5
"$wmclose" "$wid2"
for _ in $(seq 1 100); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
kill -0 "$second" 2>/dev/null && fail "the second program did not end"
status=0; wait "$second" || status=$?
[ "$status" -eq 0 ] || fail "the second program ended with status $status"

sleep 1
click "$wid1" 146 158
stopped=$(now)
sleep 0.5
"$wmclose" "$wid1"
for _ in $(seq 1 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
kill -0 "$first" 2>/dev/null && fail "the first program did not end"
status=0; wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "the first program ended with status $status"

cp default.mp3 "$out/e2e-two-instances.mp3"
mpg123 -q -s default-2.mp3 > second.raw 2>/dev/null || fail "the second take does not decode"
[ "$(stat -c %s second.raw)" -gt 176400 ] || fail "the second take is shorter than a second"
# The first frame is the finished Info tag, not the second program's start or a hole.
od -A n -t x1 -N 4 default.mp3 | grep -q '^ ff fb' || fail "the file does not start with a frame"
head -c 64 default.mp3 | grep -q -a Info || fail "no Info tag at the start"
mpg123 -q -s default.mp3 > decoded.raw 2>/dev/null || fail "the MP3 does not decode"
bytes=$(stat -c %s decoded.raw)
awk -v b="$bytes" -v s="$started" -v e="$stopped" 'BEGIN {
  got = b / (44100 * 4); want = e - s;
  printf "decoded %.2f s, recorded for %.2f s\n", got, want;
  exit !(want > 2.5 && got > want - 0.6 && got < want + 0.6) }' || fail "wrong length"
stats=$(sox -t raw -r 44100 -e signed-integer -b 16 -c 2 decoded.raw -n remix 1 stat 2>&1)
freq=$(echo "$stats" | awk '/Rough[[:space:]]+frequency/ { print $3 }')
awk -v f="$freq" 'BEGIN { exit !(f > 900 && f < 1100) }' || fail "no 1 kHz tone: $stats"
echo "ok"
