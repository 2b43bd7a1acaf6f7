#!/usr/bin/env bash
# The real program under Xvfb, recording the test daemon's pipe source (a paced 1 kHz tone),
# sent SIGTERM, SIGINT or SIGHUP two seconds into the recording, after a new file name was
# typed: it ends by itself with status 0, the MP3 holds the tone up to the signal, and
# recorder.ini holds the typed name.
# Usage: signals_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool mpg123 sox setsid
e2e_under_xvfb "$@"
# A script's background jobs start with SIGINT ignored, which the program keeps ignored.
env --default-signal=INT true 2>/dev/null || { echo "env cannot reset signals (coreutils < 8.31)"; exit 77; }

e2e_work signals-e2e

sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw "$work/chunk.raw" synth 0.1 sine 1000 vol 0.5
head -c "$(stat -c %s "$work/chunk.raw")" /dev/zero > "$work/silence.raw"
# Silence until tone.on appears, then the tone, counting its chunks; paced by the clock. It
# runs in a process group of its own, so that a cat blocked on the FIFO goes with it. The
# count is renamed into place: read between the truncation and the write of a plain
# redirection, it would be empty.
cat > "$work/writer.sh" <<'WRITER'
exec 3>"$1"
next=${EPOCHREALTIME/./}
n=0
while :; do
  if [ -e tone.on ]; then cat ../chunk.raw >&3; n=$((n + 1)); echo "$n" > tone.next; mv -f tone.next tone.count; else cat ../silence.raw >&3; fi
  next=$((next + 100000))
  d=$((next - ${EPOCHREALTIME/./}))
  if [ "$d" -gt 0 ]; then sleep "$(printf '0.%06d' "$d")"; fi
done
WRITER

for sig in TERM INT HUP; do
  run="$work/$sig"
  mkdir "$run"
  cd "$run"
  printf '[FileOutput]\nFileName=before.mp3\n' > recorder.ini
  name="after-$sig.mp3"

  setsid bash ../writer.sh "$QUAVREL_TEST_FIFO" </dev/null >/dev/null 2>&1 &
  writer=$!
  env --default-signal=INT,TERM,HUP QT_QPA_PLATFORM=xcb "$bin" >app.log 2>&1 &
  app=$!
  wid=$(e2e_wait_window)
  [ -n "$wid" ] || fail "no window"
  sleep 0.5

  # The name typed into the file name field ("保存为："), replacing what was loaded.
  xdotool mousemove --window "$wid" 150 122 click 1
  sleep 0.2
  xdotool key ctrl+a
  xdotool type --delay 20 "$name"
  sleep 0.3
  xdotool mousemove --window "$wid" 36 158 click 1
  for _ in $(seq 1 50); do [ -s "$name" ] && break; sleep 0.1; done
  [ -s "$name" ] || fail "[$sig] the recording did not start (files: $(ls))"
  touch tone.on
  sleep 2
  kill -s "$sig" "$app"
  fed=$(cat tone.count 2>/dev/null || echo 0)
  # Nothing must be left in the FIFO for the next round.
  kill -- -"$writer" 2>/dev/null || true
  wait "$writer" 2>/dev/null || true
  writer=""

  for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "[$sig] the program did not end"
  status=0; wait "$app" || status=$?
  app=""
  [ "$status" -eq 0 ] || fail "[$sig] exit status $status"

  mpg123 -q -s "$name" > decoded.raw 2>/dev/null || fail "[$sig] the MP3 does not decode"
  cp "$name" "$out/e2e-signal-$sig.mp3"
  sox -t raw -r 44100 -e signed-integer -b 16 -c 2 decoded.raw -t raw tone.raw silence 1 0.002 5%
  bytes=$(stat -c %s tone.raw)
  # What was still on its way to the program at the signal is not in the file.
  awk -v b="$bytes" -v n="$fed" -v s="$sig" -v d="$(e2e_feed_delay)" 'BEGIN {
    got = b / (44100 * 4); want = n / 10;
    printf "[%s] decoded %.2f s of tone, %.2f s fed before the signal\n", s, got, want;
    exit !(want >= 1.5 && got > want - 0.3 - d && got < want + 0.2) }' || fail "[$sig] wrong length"

  keys=$(grep -c '=' recorder.ini || true)
  [ "$keys" -eq 18 ] || fail "[$sig] recorder.ini holds $keys keys: $(cat recorder.ini)"
  grep -qxF "FileName=$name" recorder.ini || fail "[$sig] the typed name was not saved: $(grep FileName recorder.ini)"
  cd "$work"
done
echo "ok"
