#!/usr/bin/env bash
# Starts a private PulseAudio daemon with a null sink and a pipe source (the default source).
# Usage: pulse-daemon.sh DIR [--second-pipe]  -> prints "PID" once the daemon answers; state
# lives in DIR:
#   DIR/runtime  XDG_RUNTIME_DIR for clients    DIR/pipesrc.fifo  the pipe source's input
#   DIR/daemon.log                            DIR/daemon.pid
#   DIR/client.conf  PULSE_CLIENTCONFIG for clients: no autospawn of a server of their own
# With --second-pipe a second pipe source, "PipeSource2" (not the default), reads
# DIR/pipesrc2.fifo.
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
second=""
if [ "${2:-}" = --second-pipe ]; then
  second="load-module module-pipe-source source_name=pipesrc2 file=$dir/pipesrc2.fifo format=s16le rate=44100 channels=2 source_properties=device.description=PipeSource2"
fi
mkdir -p "$dir/runtime" "$dir/home"
chmod 700 "$dir/runtime"
echo "autospawn = no" > "$dir/client.conf"
cat > "$dir/test.pa" <<PA
.fail
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=nullsink sink_properties=device.description=NullSink
load-module module-pipe-source source_name=pipesrc file=$dir/pipesrc.fifo format=s16le rate=44100 channels=2 source_properties=device.description=PipeSource
$second
set-default-source pipesrc
PA
# Running as root, the daemon would otherwise write into the real home and runtime dir.
export XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
  -F "$dir/test.pa" >"$dir/daemon.log" 2>&1 &
pid=$!
echo "$pid" > "$dir/daemon.pid"
answers() { pactl info >/dev/null 2>&1; }
. "$(dirname "$0")/daemon-lib.sh"
daemon_await "$pid" "$dir/daemon.log" "PulseAudio test daemon" answers
