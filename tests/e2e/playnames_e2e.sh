#!/usr/bin/env bash
# The real program under Xvfb with hostile file names in recorder.ini: the play button hands
# a file of each name to the desktop's opener (an xdg-open of our own, first on PATH, that
# writes down its arguments) as exactly one file URL, and nothing in the name is run; a name
# in a missing folder gets a box and reaches no opener.
# Usage: playnames_e2e.sh QUAVREL WMCLOSE
set -euo pipefail
bin=$1
wmclose=$2
. "$(dirname "$0")/lib.sh"
e2e_require_daemon
e2e_require_tools xvfb-run xdotool
e2e_under_xvfb "$@"

e2e_work playnames-e2e
mkdir "$work/bin" "$work/run"
cat > "$work/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$#" "\$@" >> "$work/opened.log"
SH
chmod +x "$work/bin/xdg-open"
cd "$work/run"

names=(
  'a;touch pwned'
  '$(touch pwned).mp3'
  '`touch pwned`.mp3'
  "it's; touch pwned; '.mp3"
  '-pwned.mp3'
  '--help'
  'missing folder/not-there.mp3'
)
for name in "${names[@]}"; do
  rm -f "$work/opened.log"
  # A name that can be a file here is one; the one in a missing folder gets a box instead.
  present=1
  case "$name" in */*) present=0 ;; *) : > "./$name" ;; esac
  printf '[FileOutput]\nFileName=%s\n' "$name" > recorder.ini
  PATH="$work/bin:$PATH" QT_QPA_PLATFORM=xcb "$bin" >"$work/app.log" 2>&1 &
  app=$!
  wid=$(e2e_wait_window)
  [ -n "$wid" ] || { cat "$work/app.log"; fail "no window"; }
  sleep 0.3
  xdotool mousemove --window "$wid" 201 158 click 1
  for _ in $(seq 1 50); do [ -s "$work/opened.log" ] && break; sleep 0.1; done
  if [ "$present" = 0 ]; then
    # The box says the file does not exist; the window under it closes once it is answered.
    xdotool key Return
    sleep 0.3
  fi
  "$wmclose" "$wid"
  for _ in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "the program did not end"
  status=0; wait "$app" || status=$?
  app=""
  [ "$status" -eq 0 ] || { cat "$work/app.log"; fail "exit status $status for [$name]"; }

  if [ "$present" = 0 ]; then
    [ ! -e "$work/opened.log" ] || fail "[$name] was opened: $(cat "$work/opened.log")"
    extra=$(ls -A | grep -v -x -e recorder.ini || true)
    [ -z "$extra" ] || fail "[$name] left: $extra"
    echo "[$name] -> a box, nothing opened"
    continue
  fi
  [ -s "$work/opened.log" ] || fail "nothing opened for [$name]"
  mapfile -t got < "$work/opened.log"
  [ "${got[0]}" = 1 ] || fail "[$name] gave ${got[0]} arguments: ${got[*]}"
  case "${got[1]}" in file:///*) ;; *) fail "[$name] opened as ${got[1]}" ;; esac
  extra=$(ls -A | grep -v -x -F -e recorder.ini -e "$name" || true)
  [ -z "$extra" ] || fail "[$name] left: $extra"
  grep -qxF "FileName=$name" recorder.ini || fail "[$name] not kept: $(grep FileName recorder.ini)"
  rm -f -- "./$name"
  echo "[$name] -> ${got[1]}"
done
echo "ok"
