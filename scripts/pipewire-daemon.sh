#!/usr/bin/env bash
# Starts a private PipeWire (pipewire, wireplumber, pipewire-pulse and a D-Bus session bus of
# its own) with a null sink and a virtual microphone (the default source) fed from a FIFO.
# Same contract as pulse-daemon.sh: Usage: pipewire-daemon.sh DIR [--second-pipe]  -> prints
# "PID" once the PulseAudio service answers; killing PID (TERM) ends every process it started.
#   DIR/runtime  XDG_RUNTIME_DIR for clients    DIR/pipesrc.fifo  raw s16le 44.1 kHz stereo in
#   DIR/daemon.log  the servers' and feeders' output, with PipeWire's quantum changes
#   DIR/daemon.pid
#   DIR/server.pids  pipewire, wireplumber and pipewire-pulse
#   DIR/client.conf  PULSE_CLIENTCONFIG for clients: no autospawn of a server of their own
# With --second-pipe a second microphone, "PipeSource2" (not the default), reads
# DIR/pipesrc2.fifo. Unlike a pipe source, a microphone goes on in silence while nobody writes.
# The FIFOs are read by quavrel_pwfeed of the build (QUAVREL_BUILD_DIR, default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
feeder=${QUAVREL_BUILD_DIR:-$root/build}/tests/e2e/quavrel_pwfeed
[ -x "$feeder" ] || { echo "$feeder is missing: build first" >&2; exit 1; }
dir=$(mkdir -p "$1" && cd "$1" && pwd)
second=0
[ "${2:-}" = --second-pipe ] && second=1
mkdir -p "$dir/runtime" "$dir/home/.config/pulse"
chmod 700 "$dir/runtime"
# Never start a server of the desktop's on a client's behalf.
echo "autospawn = no" > "$dir/home/.config/pulse/client.conf"
cp "$dir/home/.config/pulse/client.conf" "$dir/client.conf"
# No Bluetooth: its monitor loads WirePlumber's logind module, which fails where no systemd
# runs (a fresh root, a container), and WirePlumber then quits.
mkdir -p "$dir/home/.config/wireplumber/bluetooth.lua.d"
echo "bluez_monitor.enabled = false" > "$dir/home/.config/wireplumber/bluetooth.lua.d/80-no-bluetooth.lua"
export XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
unset PULSE_SERVER DISPLAY WAYLAND_DISPLAY
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus"
rm -f "$dir/pipesrc.fifo" "$dir/pipesrc2.fifo"

# The supervisor: its children are the servers and the feeders; TERM or INT ends them all.
supervise() {
  local children=()
  stop_all() {
    trap - TERM INT EXIT
    local p
    for p in "${children[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    exit 0
  }
  trap stop_all TERM INT EXIT
  ready() { pactl info 2>/dev/null | grep -q 'on PipeWire'; }
  # WirePlumber exits without a session bus.
  dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" &
  children+=($!)
  for _ in $(seq 1 100); do [ -S "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.1; done
  # Every change of the graph's quantum becomes a "new quantum:A->B" line in the log, which the
  # tests count: PipeWire 0.3.65 freezes native players when it flaps. Only the topic that says
  # so logs at level 3; the whole daemon at that level writes a line per stream event.
  PIPEWIRE_DEBUG=2,pw.context:3 pipewire &
  children+=($!)
  for _ in $(seq 1 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  wireplumber &
  children+=($!)
  pipewire-pulse &
  children+=($!)
  # The sound server proper, whose CPU the benchmark counts.
  echo "${children[@]:1}" > "$dir/server.pids"
  for _ in $(seq 1 100); do ready && break; sleep 0.1; done
  ready || { echo "pipewire-pulse does not answer" >&2; exit 1; }

  pactl load-module module-null-sink sink_name=nullsink sink_properties=device.description=NullSink >/dev/null
  # A virtual microphone per FIFO, and a player of what is written there that nothing links
  # on its own: WirePlumber would link a player aimed at the microphone to the sink.
  feed() { # NAME DESCRIPTION FIFO
    pactl load-module module-null-sink media.class=Audio/Source/Virtual sink_name="$1" \
      "sink_properties=device.description=$2" channel_map=front-left,front-right >/dev/null
    mkfifo "$3"
    # pw-cat plays standard input at its --rate, whatever the WAV header says.
    "$feeder" "$3" | pw-cat --playback --rate 44100 --channels 2 --format s16 --target 0 --properties "{ node.name = feed-$1 }" - &
    children+=($!)
    local _
    for _ in $(seq 1 100); do
      pw-link "feed-$1:output_FL" "$1:input_FL" 2>/dev/null && break
      sleep 0.1
    done
    pw-link "feed-$1:output_FR" "$1:input_FR"
  }
  feed pipesrc PipeSource "$dir/pipesrc.fifo"
  [ "$second" = 1 ] && feed pipesrc2 PipeSource2 "$dir/pipesrc2.fifo"
  pactl set-default-source pipesrc
  echo ready > "$dir/ready"
  wait
}

rm -f "$dir/ready"
supervise >"$dir/daemon.log" 2>&1 &
pid=$!
echo "$pid" > "$dir/daemon.pid"
. "$root/scripts/daemon-lib.sh"
daemon_await "$pid" "$dir/daemon.log" "PipeWire test daemon" test -e "$dir/ready"
