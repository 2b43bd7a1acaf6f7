# The start shared by the end-to-end scripts, which source it.

# The private PulseAudio daemon of scripts/test.sh, with its pipe source.
e2e_require_daemon() {
  if [ -z "${QUAVREL_TEST_FIFO:-}" ] || [ ! -p "${QUAVREL_TEST_FIFO}" ]; then
    echo "no test daemon (run through scripts/test.sh)"; exit 77
  fi
}

# The daemon's second pipe source, which is not the default source: its FIFO comes in
# QUAVREL_TEST_FIFO2, and E2E_SECOND_SOURCE is the name the device list shows for it.
e2e_require_second_source() {
  if [ -z "${QUAVREL_TEST_FIFO2:-}" ] || [ ! -p "${QUAVREL_TEST_FIFO2}" ]; then
    echo "no second pipe source (run through scripts/test.sh)"; exit 77
  fi
  E2E_SECOND_SOURCE=PipeSource2
}

# Seconds from a write into the FIFO until the program can hear it: on PipeWire the sound
# goes through a feeder's buffer and a player into a virtual microphone.
e2e_feed_delay() {
  if [ "${QUAVREL_TEST_SERVER:-}" = pipewire ]; then echo 0.5; else echo 0; fi
}

e2e_require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }
  done
}

# Runs the calling script again, with its arguments, inside an X server of its own.
# -noreset: by default the server resets whenever its last client leaves, and a program
# connecting during that reset (a test starting the recorder between two xdotool polls)
# is refused with "could not connect to display"; seen on loaded machines.
e2e_under_xvfb() {
  if [ -z "${QUAVREL_E2E_INNER:-}" ]; then
    export QUAVREL_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 800x600x24 -noreset" bash "$0" "$@"
  fi
}

# Prints the id of the recorder's visible top-level window ("Quavrel": the main window or
# one of its boxes) once it is there, or nothing after ten seconds.
e2e_wait_window() {
  local wid="" _
  for _ in $(seq 1 100); do
    wid=$(xdotool search --onlyvisible --name '^Quavrel$' 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  printf '%s' "$wid"
}

# Makes a work folder of the script's own and goes there; $out is where results are kept.
# At exit the file "end" appears in it (a writer's signal to stop), the writer's process
# group ($writer), the processes in $pids with their children (a writer's cat may be blocked
# on its FIFO) and the program still running as $app are ended, and the folder goes. `fail`
# says why and shows the program's log (app.log).
e2e_work() {
  out=${QUAVREL_TEST_OUTPUT:-$PWD}
  mkdir -p "$out"
  work=$(mktemp -d "/tmp/quavrel-$1.XXXXXX")
  pids=()
  writer=""
  app=""
  trap e2e_cleanup EXIT
  cd "$work"
}

e2e_cleanup() {
  local p
  touch "$work/end" 2>/dev/null || true
  [ -n "$writer" ] && kill -- -"$writer" 2>/dev/null || true
  for p in "${pids[@]}"; do pkill -P "$p" 2>/dev/null || true; kill "$p" 2>/dev/null || true; done
  [ -n "$app" ] && kill -KILL "$app" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}

fail() { echo "FAIL: $*"; [ -f app.log ] && cat app.log; exit 1; }

# Starts the program under the X server ($app) and waits for its window ($wid); `click X Y`
# then clicks at window coordinates.
e2e_start_app() {
  QT_QPA_PLATFORM=xcb "$1" >app.log 2>&1 &
  app=$!
  pids+=($app)
  wid=$(e2e_wait_window)
  [ -n "$wid" ] || fail "no window"
  sleep 0.5
}

click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }

# Closes the window as a window manager would (with the given tool); the program must end
# cleanly.
e2e_close_app() {
  "$1" "$wid"
  for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "the program did not end"
  local status=0
  wait "$app" || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status"
}

# Writes the raw sound file $1 (44.1 kHz 16-bit stereo) into the FIFO $2 in 100 ms pieces at
# the pace of the wall clock, from the moment the file "go" appears; "played" appears once
# all is written. The writer runs in a process group of its own ($writer).
e2e_play_plan() {
  split -b 17640 -d -a 5 "$1" piece.
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
  setsid bash writer.sh "$2" </dev/null >/dev/null 2>&1 &
  writer=$!
}

e2e_wait_played() {
  local _
  for _ in $(seq 1 $((pieces / 10 + 30))); do [ -f played ] && break; sleep 1; done
  [ -f played ] || fail "the writer did not get through the plan"
}

# Stretches of sound in the left channel of a raw file, as "first last end" sample numbers:
# samples whose magnitude passes 1500, joined across gaps under 600 ms (the pauses between
# words); "end" is the last that passes 4000, an ending the encoder's loss on a fading tail
# cannot move.
e2e_samples() { od -An -v -td2 -w4 "$1"; }
e2e_stretches() {
  e2e_samples "$1" | awk '
    { x = $1 < 0 ? -$1 : $1; i = NR - 1
      if (x > 1500) {
        if (have && i - last < 26460) last = i
        else { if (have) print first, last, end; first = last = end = i; have = 1 }
      }
      if (have && x > 4000) end = i }
    END { if (have) print first, last, end }'
}
# RMS of the left channel over 50 ms from a sample on.
e2e_opening_rms() {
  e2e_samples "$1" | awk -v from="$2" 'NR - 1 >= from && NR - 1 < from + 2205 { s += $1 * $1; n++ }
    END { printf "%.1f", n ? sqrt(s / n) : 0 }'
}

# The decoded file $1 holds the $2 sentences played as s0.raw, s1.raw ... whole: each is
# found by its own ending; counted back from there by the length of its sound as played, its
# first 50 ms must be in the file about as loud as they were played.
e2e_expect_whole_sentences() {
  local heard played k p_first p_last p_end h_first h_end opening want got lost _
  mapfile -t heard < <(e2e_stretches "$1")
  echo "stretches of sound in the file (samples): ${heard[*]}"
  [ "${#heard[@]}" -eq "$2" ] || fail "${#heard[@]} stretches of sound for $2 sentences"
  for ((k = 0; k < $2; k++)); do
    mapfile -t played < <(e2e_stretches "s$k.raw")
    [ "${#played[@]}" -ge 1 ] || fail "sentence $k has no sound"
    read -r p_first _ _ <<<"${played[0]}"
    read -r _ p_last p_end <<<"${played[-1]}"
    read -r h_first _ h_end <<<"${heard[$k]}"
    # Aligned on its ending, the sentence opens this many samples before the end in the file.
    opening=$((h_end - (p_end - p_first)))
    want=$(e2e_opening_rms "s$k.raw" "$p_first")
    got=$((opening < 0 ? 0 : opening))
    got=$(e2e_opening_rms "$1" "$got")
    lost=$(awk -v a="$h_first" -v b="$opening" 'BEGIN { printf "%.1f", (a - b) / 44.1 }')
    echo "sentence $k: $(( (p_last - p_first) * 10 / 441 )) ms of sound; first 50 ms: RMS $got in the file, $want played; sound starts ${lost} ms late"
    # The encoder moves an ending by some milliseconds; a lost opening shows as much more.
    awk -v g="$got" -v w="$want" -v l="$lost" 'BEGIN { exit !(g >= 0.7 * w && l <= 25) }' \
      || fail "sentence $k lost its first 50 ms"
  done
}
