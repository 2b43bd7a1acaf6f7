#!/usr/bin/env bash
# The real program under Xvfb with voice control on (auto start and auto pause, threshold
# 1000, three quiet ticks), listening to the test daemon's pipe source, which is the default
# input and the chosen device. The source plays 2 s of hiss, 3 s of 440 Hz, 8 s of hiss,
# 3 s of 880 Hz. The MP3 must hold both tones, in order, and less hiss than was played;
# the program must end cleanly when its window is closed.
# Usage: voice_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
wmclose=$2
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool import mpg123 sox od
e2e_under_xvfb "$@"

e2e_work voice-e2e

cat > recorder.ini <<'INI'
[Format]
Device=PipeSource
[FileOutput]
Enabled=1
TimeStamp=0
FileName=voice.mp3
[Db]
dbMax=1000
dbrec=1
dbrec2=1
dppd=3
INI

# 100 ms stereo chunks: hiss peaking well under the threshold, and the two tones.
raw=(-r 44100 -c 2 -b 16 -e signed-integer -t raw)
sox -R -n "${raw[@]}" hiss.raw synth 0.1 whitenoise vol 0.008
sox -n "${raw[@]}" a.raw synth 0.1 sine 440 vol 0.3
sox -n "${raw[@]}" b.raw synth 0.1 sine 880 vol 0.3

# One writer for the whole run, paced by the wall clock: hiss until the file "go" appears,
# then the plan, counted in chunks from that moment, then hiss until the file "end" appears.
# Once nothing records from the pipe source, its FIFO fills and a write blocks: the writer
# runs in a process group of its own, so that it goes with everything it started.
cat > writer.sh <<'WRITER'
exec 3>"$1"
n=0; start=""
while [ ! -f end ]; do
  now=$(date +%s%N)
  if [ -z "$start" ]; then
    cat hiss.raw >&3
    [ -f go ] && start=$now
    sleep 0.1
    continue
  fi
  due=$(( (now - start) / 100000000 ))
  while [ "$n" -le "$due" ]; do
    if   [ "$n" -lt 20 ];  then cat hiss.raw >&3
    elif [ "$n" -lt 50 ];  then cat a.raw >&3
    elif [ "$n" -lt 130 ]; then cat hiss.raw >&3
    elif [ "$n" -lt 160 ]; then cat b.raw >&3
    else cat hiss.raw >&3
    fi
    n=$((n + 1))
  done
  sleep 0.02
done
WRITER
setsid bash writer.sh "$QUAVREL_TEST_FIFO" </dev/null >/dev/null 2>&1 &
writer=$!

e2e_start_app "$bin"
# Voice control on ("开始声控" in the button row), and the plan starts with it.
click 256 158
touch go
sleep 11.5
import -window root "$out/e2e-voice-paused.png"
sleep 5
# Stop ("停止"): completes the file and switches voice control off. Nothing listens
# afterwards, so the writer ends first.
touch end
click 146 158
sleep 1.5
import -window root "$out/e2e-voice-stopped.png"
e2e_close_app "$wmclose"

[ -s voice.mp3 ] || fail "no MP3 written"
mpg123 -q -s voice.mp3 > decoded.raw 2>/dev/null
cp voice.mp3 "$out/e2e-voice.mp3"

# Sorts 50 ms windows of the left channel into 440 Hz (a), 880 Hz (b), hiss (.) and
# anything else (?), by the Goertzel power at each frequency.
runs=$(od -An -v -td2 -w4 decoded.raw | awk '
  function flush(  pa, pb, amp) {
    pa = (a1 * a1 + a2 * a2 - ca * a1 * a2) * 4 / (n * n)
    pb = (b1 * b1 + b2 * b2 - cb * b1 * b2) * 4 / (n * n)
    rms = sqrt(sq / n)
    printf "%s", (pa > 2000 * 2000 ? "a" : pb > 2000 * 2000 ? "b" : rms < 1000 ? "." : "?")
    a1 = a2 = b1 = b2 = sq = n = 0
  }
  BEGIN { pi = atan2(0, -1); ca = 2 * cos(2 * pi * 440 / 44100); cb = 2 * cos(2 * pi * 880 / 44100) }
  {
    x = $1
    s = x + ca * a1 - a2; a2 = a1; a1 = s
    s = x + cb * b1 - b2; b2 = b1; b1 = s
    sq += x * x; n++
    if (n == 2205) flush()
  }
  END { print "" }')
echo "windows: $runs"
count() { local s=${runs//[^$1]/}; echo ${#s}; }
na=$(count a); nb=$(count b); nq=$(count .); nx=$(count '?')
echo "440 Hz ${na}, 880 Hz ${nb}, hiss ${nq}, other ${nx} (windows of 50 ms)"
[ "$na" -ge 25 ] && [ "$na" -le 64 ] || fail "the first tone is not there as it was played"
[ "$nb" -ge 20 ] && [ "$nb" -le 64 ] || fail "the second tone is not there as it was played"
last_a=${runs%a*}; first_b=${runs%%b*}
[ "${#last_a}" -lt "${#first_b}" ] || fail "the tones are out of order"
# 8 s of hiss came between the tones. Paused after three quiet ticks (at most 4 s) and
# continued with the pre-roll (1.5 s), far less of it is kept between them. The hiss before
# the first tone and after the second is left out: how much of it a file holds depends on how
# late a busy machine clicks and delivers, not on the pause.
between=${runs:${#last_a}:$(( ${#first_b} - ${#last_a} ))}
between=${between//[^.]/}
[ $(( ${#between} * 50 )) -lt 6500 ] || fail "kept ${#between} windows of hiss between the tones: no pause"
[ "$nx" -le 8 ] || fail "too much that is neither tone nor hiss"
for key in dbMax=1000 dbrec=1 dbrec2=1 dppd=3; do
  grep -qx "$key" recorder.ini || fail "recorder.ini lost $key"
done
echo "ok"
