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
e2e_play_plan plan.raw "$fifo"

e2e_start_app "$bin"
# Voice control on ("开始声控"); the plan starts with it.
click 256 158
touch go
e2e_wait_played
sleep 1
# Stop ("停止"), then close.
click 146 158
sleep 1.5
e2e_close_app "$wmclose"
[ -s speech.mp3 ] || fail "no MP3 written"
cp speech.mp3 "$out/e2e-speech-$mode.mp3"
mpg123 -q -s speech.mp3 > decoded.raw 2>/dev/null

e2e_expect_whole_sentences decoded.raw "${#sentences[@]}"
echo "ok"
