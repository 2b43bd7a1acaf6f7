#!/usr/bin/env bash
# The real program under Xvfb with voice control on (auto start, auto pause after two quiet
# ticks, threshold 1000, pre-roll 1500 ms), listening to spoken sentences (espeak-ng) with
# more quiet between them than the quiet limit. Every sentence's opening must be in the MP3:
# each sentence is found in the decoded file by its own ending; counted back from there by
# the length of its sound as played, its first 50 ms must be in the file about as loud as
# they were played.
#
#   speech_e2e.sh QUAVREL WMCLOSE default   the pipe source, the server's default source
#   speech_e2e.sh QUAVREL WMCLOSE chosen    the second pipe source, chosen in the list while
#                                           the default source stays silent
set -euo pipefail
bin=$1
wmclose=$2
mode=${3:-default}
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool mpg123 sox od espeak-ng
if [ "$mode" = chosen ]; then
  e2e_require_second_source
  fifo=$QUAVREL_TEST_FIFO2
  device=$E2E_SECOND_SOURCE
else
  fifo=$QUAVREL_TEST_FIFO
  device=PipeSource
fi
e2e_under_xvfb "$@"

e2e_work speech-e2e

cat > recorder.ini <<INI
[Format]
Device=$device
[FileOutput]
Enabled=1
TimeStamp=0
FileName=speech.mp3
[Db]
dbMax=1000
dbrec=1
dbrec2=1
dppd=2
preroll=1500
INI

if [ "$mode" = chosen ]; then
  sentences=("Voice control listens to the chosen microphone." "Nothing of this is lost.")
else
  sentences=("The quick brown fox jumps over the lazy dog." "Voice control keeps every first word."
             "Seven silent sailors sang softly." "Hello there.")
fi

# The plan: 2 s of quiet, then each sentence followed by 5 s of quiet, 44.1 kHz stereo.
raw=(-r 44100 -c 2 -b 16 -e signed-integer -t raw)
sox -n "${raw[@]}" quiet.raw trim 0 5
sox -n "${raw[@]}" plan.raw trim 0 2
i=0
for text in "${sentences[@]}"; do
  espeak-ng -w "s$i.wav" "$text"
  sox "s$i.wav" "${raw[@]}" "s$i.raw" vol 0.5 rate 44100 channels 2
  cat "s$i.raw" quiet.raw >> plan.raw
  i=$((i + 1))
done
# 100 ms pieces, written one by one at the pace of the wall clock from the file "go" on.
split -b 17640 -d -a 5 plan.raw piece.
pieces=$(ls piece.* | wc -l)

cat > writer.sh <<'WRITER'
exec 3>"$1"
n=0; start=""
while [ ! -f end ]; do
  if [ -z "$start" ]; then
    [ -f go ] && start=$(date +%s%N)
    sleep 0.02
    continue
  fi
  due=$(( ($(date +%s%N) - start) / 100000000 ))
  while [ "$n" -le "$due" ] && [ -f "$(printf 'piece.%05d' "$n")" ]; do
    cat "$(printf 'piece.%05d' "$n")" >&3
    n=$((n + 1))
  done
  [ -f "$(printf 'piece.%05d' "$n")" ] || { touch played; exec 3>&-; exit 0; }
  sleep 0.02
done
WRITER
setsid bash writer.sh "$fifo" </dev/null >/dev/null 2>&1 &
writer=$!

e2e_start_app "$bin"
# Voice control on ("开始声控"); the plan starts with it.
click 256 158
touch go
for _ in $(seq 1 $((pieces / 10 + 30))); do [ -f played ] && break; sleep 1; done
[ -f played ] || fail "the writer did not get through the plan"
sleep 1
# Stop ("停止"), then close.
click 146 158
sleep 1.5
e2e_close_app "$wmclose"
[ -s speech.mp3 ] || fail "no MP3 written"
cp speech.mp3 "$out/e2e-speech-$mode.mp3"
mpg123 -q -s speech.mp3 > decoded.raw 2>/dev/null

# Stretches of sound in the left channel, as "first last end" sample numbers: samples whose
# magnitude passes 1500, joined across gaps under 600 ms (the pauses between words); "end"
# is the last that passes 4000, an ending the encoder's loss on a fading tail cannot move.
samples() { od -An -v -td2 -w4 "$1"; }
stretches() {
  samples "$1" | awk '
    { x = $1 < 0 ? -$1 : $1; i = NR - 1
      if (x > 1500) {
        if (have && i - last < 26460) last = i
        else { if (have) print first, last, end; first = last = end = i; have = 1 }
      }
      if (have && x > 4000) end = i }
    END { if (have) print first, last, end }'
}
# RMS of the left channel over 50 ms from a sample on.
opening_rms() {
  samples "$1" | awk -v from="$2" 'NR - 1 >= from && NR - 1 < from + 2205 { s += $1 * $1; n++ }
    END { printf "%.1f", n ? sqrt(s / n) : 0 }'
}

mapfile -t heard < <(stretches decoded.raw)
echo "stretches of sound in the file (samples): ${heard[*]}"
[ "${#heard[@]}" -eq "${#sentences[@]}" ] || fail "${#heard[@]} stretches of sound for ${#sentences[@]} sentences"
for k in "${!sentences[@]}"; do
  mapfile -t played < <(stretches "s$k.raw")
  [ "${#played[@]}" -ge 1 ] || fail "sentence $k has no sound"
  read -r p_first _ _ <<<"${played[0]}"
  read -r _ p_last p_end <<<"${played[-1]}"
  read -r h_first _ h_end <<<"${heard[$k]}"
  # Aligned on its ending, the sentence opens this many samples before the end in the file.
  opening=$((h_end - (p_end - p_first)))
  want=$(opening_rms "s$k.raw" "$p_first")
  got=$((opening < 0 ? 0 : opening))
  got=$(opening_rms decoded.raw "$got")
  lost=$(awk -v a="$h_first" -v b="$opening" 'BEGIN { printf "%.1f", (a - b) / 44.1 }')
  echo "sentence $k: $(( (p_last - p_first) * 10 / 441 )) ms of sound; first 50 ms: RMS $got in the file, $want played; sound starts ${lost} ms late"
  # The encoder moves an ending by some milliseconds; a lost opening shows as much more.
  awk -v g="$got" -v w="$want" -v l="$lost" 'BEGIN { exit !(g >= 0.7 * w && l <= 25) }' \
    || fail "sentence $k lost its first 50 ms"
done
echo "ok"
