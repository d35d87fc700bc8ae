# shellcheck shell=bash
# What the benchmark scripts share, sourced after `cd` to the top of the tree:
# a run folder that is removed at exit, the processes started into `pids`
# ended by their PID at exit, and free UDP ports on loopback.
# Usage: source scripts/bench-common.sh <name of the run folder in /tmp>
run=$(mktemp -d "/tmp/$1.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
