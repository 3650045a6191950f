# Helpers for the demo steps (sourced).
demo_pids=()

# start_gateway VAR [gateway-sim options...]: starts a stand-in on a free
# loopback port and stores "127.0.0.1:PORT" in VAR.
start_gateway() {
  local var=$1; shift
  local log; log=$(mktemp)
  "$GATEWAY_SIM" --port 0 "$@" >"$log.out" 2>"$log" &
  demo_pids+=($!)
  local port=""
  for _ in $(seq 100); do
    port=$(head -n1 "$log.out" 2>/dev/null | grep -Eo '[0-9]+$' || true)
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || { echo "gateway stand-in did not start" >&2; cat "$log" >&2; return 1; }
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
