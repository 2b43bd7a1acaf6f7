#!/usr/bin/env bash
# Says in the terminal, in words a user can act on, when no sound server answers: how to
# start the one that is installed, or which package to install. Exit status 0 when one
# answers, 1 when none does.
# Usage: sound-server-check.sh [SOUNDCHECK]  (default: build/quavrel_soundcheck)
# Uses no command but the given one, so PATH decides which servers count as installed.
set -uo pipefail
check=${1:-${QUAVREL_BUILD_DIR:-${0%/*}/../build}/quavrel_soundcheck}
if [ ! -x "$check" ]; then
  echo "sound-server-check: $check is missing (build first)" >&2
  exit 2
fi
reason=$("$check") && exit 0

starts=()
command -v pipewire-pulse >/dev/null 2>&1 && starts+=("systemctl --user start pipewire-pulse")
command -v pulseaudio >/dev/null 2>&1 && starts+=("pulseaudio --start")
{
  echo "No sound server answers ($reason), so Quavrel finds no recording device."
  if [ ${#starts[@]} -gt 0 ]; then
    echo "Start the sound server:"
    first=1
    for s in "${starts[@]}"; do
      [ $first -eq 1 ] || echo "  or"
      echo "    $s"
      first=0
    done
  else
    echo "No sound server is installed. Install one as root, then start it:"
    echo "    apt-get install --no-install-recommends pulseaudio       then: pulseaudio --start"
    echo "  or, on a PipeWire desktop:"
    echo "    apt-get install --no-install-recommends pipewire-pulse   then: systemctl --user start pipewire-pulse"
  fi
  echo "Then choose \"重试 / Try again\" in Quavrel's box, or start Quavrel again."
} >&2
exit 1
