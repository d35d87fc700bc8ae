# shellcheck shell=bash
# What the benchmark scripts share, sourced after `cd` to the top of the tree:
# a run folder that is removed at exit, the processes started into `pids`
# ended by their PID at exit, and free UDP (or, with "tcp", TCP) ports on
# loopback.
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
  # A TCP port is taken below the range of ephemeral ports, so that the
  # connections of a benchmark's clients cannot take it in the meantime.
  python3 -c 'import random, socket, sys
tcp = sys.argv[1:] == ["tcp"]
for port in random.sample(range(20000, 32768), 200) if tcp else [0]:
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM if tcp else socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    print(s.getsockname()[1])
    break
else:
    sys.exit("no free TCP port")' "$@"
}
