#!/usr/bin/env bash
# The set-up scripts' words to a user, without building or installing anything:
#   setup_e2e.sh soundserver SOUNDCHECK   no sound server answers: the run command's check says
#                                        how to start the one on PATH, or what to install
#   setup_e2e.sh nosudo                   not root and no sudo: the missing packages and the
#                                        apt-get line for root, and a failure status
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d /tmp/quavrel-setup.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/out" ] && cat "$work/out"; exit 1; }

# A folder for PATH holding only the named commands; a fake one records that it was run.
path_with() {
  local dir="$work/path-$1" cmd
  shift
  mkdir -p "$dir"
  for cmd in "$@"; do
    if [ "${cmd#fake:}" != "$cmd" ]; then
      printf '#!/bin/sh\ntouch %s/ran-%s\n' "$work" "${cmd#fake:}" > "$dir/${cmd#fake:}"
      chmod +x "$dir/${cmd#fake:}"
    else
      ln -s "$(command -v "$cmd")" "$dir/$cmd"
    fi
  done
  printf '%s' "$dir"
}

soundserver() {
  local soundcheck=$1 status
  mkdir -m 700 "$work/runtime"
  # Nothing listens here, and nothing may be spawned.
  nowhere=(env XDG_RUNTIME_DIR="$work/runtime" PULSE_SERVER="unix:$work/runtime/none" HOME="$work")

  status=0
  "${nowhere[@]}" PATH="$(path_with pa fake:pulseaudio)" /bin/bash "$scripts/sound-server-check.sh" "$soundcheck" \
    >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 1 ] || fail "exit status $status with no server, not 1"
  grep -q '^No sound server answers (Connection refused)' "$work/out" || fail "does not say that no server answers"
  grep -qx '    pulseaudio --start' "$work/out" || fail "does not say how to start PulseAudio"
  grep -q 'pipewire-pulse' "$work/out" && fail "names pipewire-pulse, which is not installed"
  grep -q 'Try again' "$work/out" || fail "does not say that the program's box can try again"

  "${nowhere[@]}" PATH="$(path_with pw fake:pipewire-pulse)" /bin/bash "$scripts/sound-server-check.sh" "$soundcheck" \
    >"$work/out" 2>&1 && fail "exit status 0 with no server"
  grep -qx '    systemctl --user start pipewire-pulse' "$work/out" || fail "does not say how to start pipewire-pulse"
  grep -q 'pulseaudio' "$work/out" && fail "names pulseaudio, which is not installed"

  "${nowhere[@]}" PATH="$work/path-none" /bin/bash "$scripts/sound-server-check.sh" "$soundcheck" \
    >"$work/out" 2>&1 && fail "exit status 0 with no server"
  grep -q '^No sound server is installed' "$work/out" || fail "does not say that none is installed"
  grep -q 'apt-get install --no-install-recommends pulseaudio ' "$work/out" || fail "does not name the package"
  grep -q 'apt-get install --no-install-recommends pipewire-pulse ' "$work/out" || fail "does not name pipewire-pulse"

  ls "$work"/ran-* >/dev/null 2>&1 && fail "the check ran a server itself"

  # With the test daemon reachable it stays silent.
  if [ -n "${QUAVREL_TEST_FIFO:-}" ]; then
    /bin/bash "$scripts/sound-server-check.sh" "$soundcheck" >"$work/out" 2>&1 || fail "the test daemon was not seen"
    [ ! -s "$work/out" ] || fail "says something although a server answers"
  fi
  echo ok
}

nosudo() {
  local path status
  path=$(path_with nosudo dpkg-query grep id cat)
  # The script alone, where an unprivileged user can read it.
  cp "$scripts/install-packages.sh" "$work/"
  chmod 755 "$work" "$work/install-packages.sh"
  as_user=()
  [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  status=0
  (cd "$work" && "${as_user[@]}" env PATH="$path" /bin/bash ./install-packages.sh \
    bash quavrel-no-such-package-a dpkg quavrel-no-such-package-b) >"$work/out" 2>&1 || status=$?
  [ "$status" -ne 0 ] || fail "exit status 0 with packages missing"
  [ "$status" -ne 127 ] || fail "exit status 127: a command was missing"
  grep -q 'command not found' "$work/out" && fail "a command was not found"
  grep -q '^Quavrel needs Debian packages that are not installed: quavrel-no-such-package-a quavrel-no-such-package-b$' \
    "$work/out" || fail "does not name exactly the missing packages"
  grep -q 'not root and sudo is not available' "$work/out" || fail "does not say why it cannot install"
  grep -qx '    apt-get install --no-install-recommends quavrel-no-such-package-a quavrel-no-such-package-b' \
    "$work/out" || fail "does not give the one command for root"

  # Nothing missing: nothing to say, and success, root or not.
  (cd "$work" && "${as_user[@]}" env PATH="$path" /bin/bash ./install-packages.sh bash dpkg) >"$work/out" 2>&1 \
    || fail "fails although nothing is missing"
  [ ! -s "$work/out" ] || fail "says something although nothing is missing"
  echo ok
}

case "${1:-}" in
  soundserver) soundserver "$2" ;;
  nosudo) nosudo ;;
  *) echo "usage: $0 soundserver SOUNDCHECK | nosudo"; exit 2 ;;
esac
