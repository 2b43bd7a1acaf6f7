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
