#!/usr/bin/env bash
# Measures how SNMP keeps its precedence while the HTTP server is flooded,
# for one or more builds of pvx side by side in one run: each pvx
# (Network/ResponsiveLoop=1, HTTP on, polling its own simulated UPS) in turn
# answers a GET flood (K=64 from 127.0.0.2) and a manager's GETs (K=1 from
# 127.0.0.3), first alone and then while 64 HTTP clients scrape /metrics in a
# loop (a new connection for every scrape, as a scraper without keep-alive
# does).
#
# For each build and each load it prints the GETs the flood had answered a
# second, the manager's requests a second and latency (p50, p99, max), the
# scrapes answered a second, and the longest gap between two polls of the UPS.
# The simulator and the load generator come from the first build; the HTTP
# clients are one Python process. Nothing here is a pass/fail test; figures
# on a shared machine with two cores are noisy.
#
# Usage: scripts/bench-http-flood.sh [build folder]...   (default: build)
# To set a build of another commit beside the current one:
#   git worktree add --detach ../pvx-base <commit>
#   cmake -S ../pvx-base -B ../pvx-base/build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPVX_TESTS=OFF
#   ninja -C ../pvx-base/build pvx
#   scripts/bench-http-flood.sh ../pvx-base/build build
# Environment: RUN_SECONDS (the manager's run, default 5), HTTP_CLIENTS
# (default 64), TIMEOUT_MS (an SNMP request is lost after it, default 1000).
set -euo pipefail
# Build folders as given, from where the script was started; default: build.
builds=()
for build in "$@"; do builds+=("$(realpath -m "$build")"); done
cd "$(dirname "$0")/.."
((${#builds[@]} > 0)) || builds=("$(pwd)/build")
run_seconds=${RUN_SECONDS:-5}
http_clients=${HTTP_CLIENTS:-64}
timeout_ms=${TIMEOUT_MS:-1000}
tools=${builds[0]}
if [[ ! -f $tools/build.ninja ]]; then
  cmake -S . -B "$tools" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$tools" pvx pvx-upssim pvx-snmpload >/dev/null
load=$tools/pvx-snmpload
upssim=$tools/pvx-upssim
for build in "${builds[@]}"; do
  if [[ ! -x $build/pvx ]]; then
    echo "bench-http-flood: $build/pvx is missing" >&2
    exit 1
  fi
done

# shellcheck source=scripts/bench-common.sh
source scripts/bench-common.sh pvx-bench-http-flood

cat >"$run/scrape.py" <<'PY'
# HTTP clients scraping /metrics in a loop, each opening a new connection for
# every scrape, for a given time; prints the scrapes answered a second.
import asyncio, sys

port, clients, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
request = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
answered = failed = 0

async def client(end):
    global answered, failed
    loop = asyncio.get_running_loop()
    while loop.time() < end:
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection("127.0.0.1", port), 5)
            writer.write(request)
            reply = await asyncio.wait_for(reader.read(), 5)
            writer.close()
            if reply.startswith(b"HTTP/1.1 200"):
                answered += 1
            else:
                failed += 1
        except (OSError, asyncio.TimeoutError):
            failed += 1
            await asyncio.sleep(0.01)

async def main():
    end = asyncio.get_running_loop().time() + seconds
    await asyncio.gather(*(client(end) for _ in range(clients)))

asyncio.run(main())
print(f"scrapes_rps={answered / seconds:.0f} failed={failed}")
PY

field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<" $1"; }

# The longest gap between two polls of the UPS that overlaps [start, end].
poll_gap() {
  awk -v from="$2" -v to="$3" 'NR > 1 && $1 > from && last < to { gap = $1 - last; if (gap > max) max = gap }
    { last = $1 } END { if (max > 0) printf "%.2f s", max; else print "-" }' "$1"
}

# measure <folder> <SNMP port> <HTTP port> <HTTP clients>: one line of figures.
measure() {
  local folder=$1 snmp=$2 http=$3 clients=$4 scraper="" flooder start end
  if ((clients > 0)); then
    python3 "$run/scrape.py" "$http" "$clients" "$((run_seconds + 3))" >"$folder/scrape" &
    scraper=$!
    pids+=("$scraper")
    sleep 0.5
  fi
  "$load" -p "$snmp" -s 127.0.0.2 -k 64 -d "$((run_seconds + 2))" -t "$timeout_ms" -l flood \
    1.3.6.1.2.1.33.1.2.1.0 >"$folder/flood" &
  flooder=$!
  pids+=("$flooder")
  sleep 1
  start=$EPOCHREALTIME
  "$load" -p "$snmp" -s 127.0.0.3 -k 1 -d "$run_seconds" -t "$timeout_ms" -l manager \
    1.3.6.1.2.1.33.1.2.1.0 >"$folder/manager"
  end=$EPOCHREALTIME
  wait "$flooder" || true
  local scrapes=-
  if [[ -n $scraper ]]; then
    wait "$scraper" || true
    scrapes=$(field "$(cat "$folder/scrape")" scrapes_rps)
  fi
  local flood manager
  flood=$(cat "$folder/flood")
  manager=$(cat "$folder/manager")
  printf '%12s %12s %8s %8s %8s %8s %10s %8s\n' "$(field "$flood" rps)" "$(field "$manager" rps)" \
    "$(field "$manager" lost)" "$(field "$manager" p50_us)" "$(field "$manager" p99_us)" \
    "$(field "$manager" max_us)" "$scrapes" "$(poll_gap "$folder/polls" "$start" "$end")"
  sleep 0.5
}

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%F %T') UTC;" \
  "the manager's run $run_seconds s, $http_clients HTTP clients"
echo "flood = GETs answered a second to 127.0.0.2 (K=64); manager = 127.0.0.3 (K=1), latency in µs;"
echo "scrapes = /metrics answered a second; UPS gap = longest gap between two polls of the UPS"
index=0
for build in "${builds[@]}"; do
  index=$((index + 1))
  folder=$run/$index
  mkdir -p "$folder"
  source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  version=$(git -C "${source_dir:-.}" describe --always --dirty 2>/dev/null || echo '?')
  "$upssim" -l "$folder/ups" -q -f "$folder/frames.log" >"$folder/upssim.log" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 50); do [[ -e $folder/ups ]] && break; sleep 0.1; done
  snmp_port=$(free_port)
  http_port=$(free_port tcp)
  cat >"$folder/pvx.ini" <<INI
[Communications]
CommunicationsPort=$folder/ups
[SNMP]
Enabled=1
AgentPort=$snmp_port
ManagerPort=$(free_port)
[Network]
ResponsiveLoop=1
SourceAddress=127.0.0.1
[NetXCP]
AgentPort=$(free_port)
[HTTP]
Enabled=1
Port=$http_port
INI
  # Started by name, not by path: no two-minute start-up pause.
  (cd "$folder" && exec -a pvx "$build/pvx" -c "$folder/pvx.ini" >"$folder/pvx.log" 2>&1) &
  pvx_pid=$!
  pids+=("$pvx_pid")
  # Every request the UPS receives, time-stamped as it is logged.
  touch "$folder/frames.log"
  (
    tail -n +1 -F --pid="$sim_pid" "$folder/frames.log" 2>/dev/null &
    echo $! >"$folder/tail.pid"
    wait
  ) | while IFS= read -r line; do
    [[ $line == 'rx '* ]] && echo "$EPOCHREALTIME"
  done >"$folder/polls" &
  pids+=($!)
  for _ in $(seq 50); do [[ -s $folder/tail.pid ]] && break; sleep 0.1; done
  pids+=("$(cat "$folder/tail.pid")")
  # Polling has begun once the simulator saw the first full meter cycle.
  for _ in $(seq 300); do grep -q '^rx 32' "$folder/frames.log" 2>/dev/null && break; sleep 0.1; done
  if ! grep -q '^rx 32' "$folder/frames.log"; then
    echo "bench-http-flood: pvx of $build did not identify the UPS" >&2
    cat "$folder/pvx.log" >&2
    exit 1
  fi
  echo
  echo "pvx $version ($build)"
  printf '%-10s %12s %12s %8s %8s %8s %8s %10s %8s\n' load 'flood req/s' 'manager/s' lost 'p50 µs' 'p99 µs' \
    'max µs' 'scrapes/s' 'UPS gap'
  printf '%-10s ' 'SNMP only'
  measure "$folder" "$snmp_port" "$http_port" 0
  printf '%-10s ' "+$http_clients HTTP"
  measure "$folder" "$snmp_port" "$http_port" "$http_clients"
  kill "$pvx_pid" "$sim_pid" 2>/dev/null || true
  wait "$pvx_pid" "$sim_pid" 2>/dev/null || true
done
