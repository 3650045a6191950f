# Helpers for the demo steps (sourced).
demo_pids=()

# first_line_match FILE PATTERN: waits up to 5 s for the file's first line to
# hold PATTERN (grep -E) and prints the match; fails when it never does.
first_line_match() {
  local found=""
  for _ in $(seq 100); do
    found=$(head -n1 "$1" 2>/dev/null | grep -Eo "$2" || true)
    [ -n "$found" ] && { printf '%s' "$found"; return 0; }
    sleep 0.05
  done
  return 1
}

# start_gateway VAR [gateway-sim options...]: starts a stand-in on a free
# loopback port and stores "127.0.0.1:PORT" in VAR.
start_gateway() {
  local var=$1; shift
  local log; log=$(mktemp)
  "$GATEWAY_SIM" --port 0 "$@" >"$log.out" 2>"$log" &
  demo_pids+=($!)
  local port
  port=$(first_line_match "$log.out" '[0-9]+$') ||
    { echo "gateway stand-in did not start" >&2; cat "$log" >&2; return 1; }
  printf -v "$var" '127.0.0.1:%s' "$port"
}

demo_cleanup() {
  for pid in "${demo_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}

run() {
  printf '\n$ %s\n' "$*"
  "$@"
}
