#!/usr/bin/env bash
# The real program under Xvfb, recording the test daemon's pipe source (a paced 1 kHz tone),
# killed with SIGKILL three seconds into the recording: the MP3 it leaves decodes to within
# half a second of what it was recording, still starts with the frame reserved for its tag,
# and recorder.ini is neither written nor left half-done.
# Usage: killed_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool mpg123 sox
e2e_under_xvfb "$@"

e2e_work killed-e2e

# The writer keeps to the clock (a fixed schedule, so the time its commands take does not
# slow it down): silence until tone.on appears, then a 1 kHz tone, counting the tone's chunks.
# The count is renamed into place: read between the truncation and the write of a plain
# redirection, it would be empty.
sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw chunk.raw synth 0.1 sine 1000 vol 0.5
head -c "$(stat -c %s chunk.raw)" /dev/zero > silence.raw
(
  exec 3>"$QUAVREL_TEST_FIFO"
  next=${EPOCHREALTIME/./}
  n=0
  while :; do
    if [ -e tone.on ]; then cat chunk.raw >&3; n=$((n + 1)); echo "$n" > tone.next; mv -f tone.next tone.count; else cat silence.raw >&3; fi
    next=$((next + 100000))
    d=$((next - ${EPOCHREALTIME/./}))
    if [ "$d" -gt 0 ]; then sleep "$(printf '0.%06d' "$d")"; fi
  done
) &
pids+=($!)

QT_QPA_PLATFORM=xcb "$bin" >app.log 2>&1 &
app=$!
pids+=($app)
wid=$(e2e_wait_window)
[ -n "$wid" ] || { echo "no window"; cat app.log; exit 1; }
sleep 0.5

xdotool mousemove --window "$wid" 36 158 click 1
# Once MP3 bytes arrive the recording is surely live: from then on the tone is recorded.
for _ in $(seq 1 50); do [ -s default.mp3 ] && break; sleep 0.1; done
[ -s default.mp3 ] || fail "the recording did not start"
touch tone.on
sleep 3
kill -KILL "$app"
fed=$(cat tone.count 2>/dev/null || echo 0)
wait "$app" 2>/dev/null || true

mpg123 -q -s default.mp3 > decoded.raw 2>/dev/null || fail "the MP3 does not decode"
# The frame kept for the tag, which a finished file gets at the end, is still what LAME left:
# a valid 128 kbps frame header and zeros (417 bytes), played as a moment of silence.
od -A n -t x1 -N 3 default.mp3 | grep -q '^ ff fb 90' || fail "the file does not start with the reserved frame"
[ "$(head -c 417 default.mp3 | tail -c +5 | tr -d '\000' | wc -c)" -eq 0 ] || fail "the reserved frame holds data"
cp default.mp3 "$out/e2e-killed.mp3"
# The tone's part of the file: everything from its first loud sample on.
sox -t raw -r 44100 -e signed-integer -b 16 -c 2 decoded.raw -t raw tone.raw silence 1 0.002 5%
bytes=$(stat -c %s tone.raw)
# What was still on its way to the program at the kill is not in the file.
awk -v b="$bytes" -v n="$fed" -v d="$(e2e_feed_delay)" 'BEGIN {
  got = b / (44100 * 4); want = n / 10;
  printf "decoded %.2f s of tone, %.2f s fed before the kill\n", got, want;
  exit !(want >= 2.5 && got > want - 0.5 - d && got < want + 0.2) }' || fail "wrong length"
stats=$(sox -t raw -r 44100 -e signed-integer -b 16 -c 2 tone.raw -n remix 1 stat 2>&1)
stats=$(sox -t raw -r 44100 -e signed-integer -b 16 -c 2 decoded.raw -n remix 1 stat 2>&1)
freq=$(echo "$stats" | awk '/Rough[[:space:]]+frequency/ { print $3 }')
awk -v f="$freq" 'BEGIN { exit !(f > 900 && f < 1100) }' || fail "no 1 kHz tone: $stats"
[ ! -e recorder.ini ] || fail "recorder.ini written by a killed program"
leftovers=$(ls -A | grep -v -x -e default.mp3 -e decoded.raw -e tone.raw -e chunk.raw -e silence.raw \
  -e tone.on -e tone.count -e tone.next -e app.log || true)
[ -z "$leftovers" ] || fail "left behind: $leftovers"
echo "ok"
