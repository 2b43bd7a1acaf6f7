#!/usr/bin/env bash
# Proves the set-up from nothing: makes a fresh Debian 12 root, clones the committed HEAD of
# this checkout into it, runs the README's test command there and then, under a virtual X
# server, the README's run command: first with no sound server (the terminal must say what
# to start, and the program's box shows), then with a private PulseAudio daemon (the main
# window shows). Everything is torn down at the end. Needs root (mmdebstrap --mode=root,
# chroot, mount); installs mmdebstrap when it is missing. Exit status 0 when every step
# passed; otherwise the output names the step that failed.
# Usage: scripts/fresh-check.sh [WORK_DIR]   (default: a new folder under /tmp)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
step="start"
fail() { echo "fresh-check: FAILED at step \"$step\": $*" >&2; exit 1; }
begin() { step=$1; echo "fresh-check: == $step ($(date -u +%H:%M:%S))"; }

[ "$(id -u)" -eq 0 ] || fail "needs root (mmdebstrap --mode=root, chroot and bind mounts)"
for cmd in "    scripts/test.sh" "    scripts/run.sh"; do
  grep -qx -- "$cmd" "$src/README.md" || fail "README.md no longer names \"${cmd# *}\""
done
head=$(git -C "$src" rev-parse HEAD) || fail "not a git checkout"

base=$(mktemp -d "${1:-/tmp}/quavrel-fresh.XXXXXX")
root="$base/root"
mounted=()
cleanup() {
  local status=$? pid link i
  # Whatever still runs inside the root (a daemon, an X server the step left) holds it.
  for link in /proc/[0-9]*/root; do
    [ "$(readlink "$link" 2>/dev/null)" = "$root" ] || continue
    pid=${link#/proc/}; pid=${pid%/root}
    kill -9 "$pid" 2>/dev/null || true
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  # Never remove a tree that still has the host's /dev or /proc mounted in it.
  if grep -q " $root/" /proc/self/mounts; then
    echo "fresh-check: $root still has mounts; left in place" >&2
    status=1
  else
    rm -rf "$base"
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

begin "install mmdebstrap"
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq || fail "apt-get update"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap \
    || fail "could not install mmdebstrap"
fi

begin "make a Debian 12 root"
# The mirrors this machine's apt is configured with, so apt in the root reaches them too.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || fail "this machine has no apt sources to copy"
mmdebstrap --quiet --mode=root --variant=apt --include=ca-certificates,git bookworm "$root" \
  "${sources[@]}" </dev/null || fail "mmdebstrap"
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

begin "mount /proc, /sys, /dev, /dev/pts and /dev/shm"
for m in proc sys dev dev/pts dev/shm; do
  mkdir -p "$root/$m"
  mount --bind "/$m" "$root/$m" || fail "mount --bind /$m"
  mounted+=("$root/$m")
done

begin "clone $head"
git init -q "$root/root/quavrel" && git -C "$root/root/quavrel" fetch -q "$src" HEAD \
  && git -C "$root/root/quavrel" checkout -q FETCH_HEAD || fail "git clone"

# A login's environment, not this shell's (no build folder, runtime folder or display).
inroot() {
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb bash -c "cd /root/quavrel && $1"
}

begin "the run command's packages bring no sound server"
inroot 'apt-get update -qq && apt-get install -s --no-install-recommends $(scripts/packages.sh)' \
  >"$base/simulate.log" 2>&1 || { cat "$base/simulate.log"; fail "apt-get install -s"; }
if grep -E '^Inst (pulseaudio|pipewire-pulse|pipewire|wireplumber) ' "$base/simulate.log"; then
  fail "installing the run command's packages would install a sound server"
fi

begin "test command: scripts/test.sh"
inroot 'scripts/test.sh' || fail "scripts/test.sh failed in the fresh root"

# The run command under a virtual X server until a window titled "Quavrel" shows (within a
# minute: everything is built by now). Both the box about a missing server and the main
# window carry that title; the main window is the one 345 pixels wide. Prints the
# program's terminal output and the window's geometry.
cat >"$root/tmp/show-window.sh" <<'SH'
set -u
QT_QPA_PLATFORM=xcb scripts/run.sh >/tmp/run.log 2>&1 &
app=$!
wid=""
for _ in $(seq 1 600); do
  wid=$(xdotool search --onlyvisible --name '^Quavrel$' 2>/dev/null | head -1 || true)
  [ -n "$wid" ] && break
  kill -0 $app 2>/dev/null || break
  sleep 0.1
done
[ -n "$wid" ] && xdotool getwindowgeometry "$wid" >/tmp/window.txt
kill $app 2>/dev/null
for _ in $(seq 1 50); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
kill -9 $app 2>/dev/null
wait $app 2>/dev/null
cat /tmp/run.log
[ -n "$wid" ] || { echo "no window showed"; exit 1; }
cat /tmp/window.txt
SH
showwindow='xvfb-run -a -s "-screen 0 800x600x24 -noreset" bash /tmp/show-window.sh'

begin "run command without a sound server"
inroot "$showwindow" >"$base/run1.log" 2>&1 || { cat "$base/run1.log"; fail "no window showed"; }
cat "$base/run1.log"
grep -q "No sound server answers" "$base/run1.log" || fail "the terminal did not say that no sound server answers"
grep -q "pulseaudio --start" "$base/run1.log" || fail "the terminal did not say how to start a server"

begin "run command with a sound server"
inroot "pid=\$(scripts/pulse-daemon.sh /tmp/pulse) || exit 1
  trap 'kill \$pid' EXIT
  XDG_RUNTIME_DIR=/tmp/pulse/runtime $showwindow" >"$base/run2.log" 2>&1 \
  || { cat "$base/run2.log"; fail "no window showed"; }
cat "$base/run2.log"
grep -q "Geometry: 345x" "$base/run2.log" || fail "the window that showed is not the main window"
! grep -q "No sound server" "$base/run2.log" || fail "the check did not see the running server"

step="done"
echo "fresh-check: passed ($head)"
