# Sourced by the scripts that start and stop the private sound servers.

# Prints PID once CHECK... succeeds; gives up, with NAME and the log, when PID has gone or
# after 15 seconds.
daemon_await() { # PID LOG NAME CHECK...
  local pid=$1 log=$2 name=$3 _
  shift 3
  for _ in $(seq 1 150); do
    if "$@"; then echo "$pid"; return 0; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$name did not start; log:" >&2
  cat "$log" >&2
  kill "$pid" 2>/dev/null || true
  return 1
}

# Ends the server whose id is in $daemon and waits until it is gone: it is not the caller's
# child (a command substitution started it), so `wait` cannot.
stop_daemon() {
  [ -n "${daemon:-}" ] || return 0
  local _
  kill "$daemon" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
  daemon=""
}
