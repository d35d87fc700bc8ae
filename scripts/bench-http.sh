#!/usr/bin/env bash
# Measures what the status page costs with everything on it: a daemon polling
# its simulated UPS, a full day of samples (through the daemon's test seam
# PVX_TEST_FILL_HISTORY) and a full event log of 500 entries (kept in
# events.log). Prints pvx's CPU time per page, per /metrics scrape beside it
# in the same run, the sizes of the documents, and the memory the records
# take.
#
# Usage: scripts/bench-http.sh [build folder, default: build] [requests, default 300]
# Nothing here is a pass/fail test.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
requests=${2:-300}
if [[ ! -x $build/pvx || ! -x $build/pvx-upssim ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" pvx pvx-upssim >/dev/null

# shellcheck source=scripts/bench-common.sh
source scripts/bench-common.sh pvx-bench-http

dir=$run
"$top/$build/pvx-upssim" -l "$dir/ups" -q >"$dir/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e $dir/ups ]] && break; sleep 0.1; done
port=$(free_port)
# 500 events of the longest text, an outage's end every other one.
now=$(date +%s)
for i in $(seq 0 499); do
  if ((i % 2)); then kind=alarmCleared duration=$((60 + i)); else kind=alarmRaised duration=-1; fi
  printf '%d,%s,%d,%s\n' $((now - 100000 + i * 100)) $kind $duration "Input out of range, event $i, with a long text"
done >"$dir/events.log"
cat >"$dir/pvx.ini" <<INI
[Communications]
CommunicationsPort=$dir/ups
[Network]
SourceAddress=127.0.0.1
[NetXCP]
Enabled=0
[HTTP]
Enabled=1
Port=$port
[UPSIdent]
Name=Bench rack
[Service]
KeepEventLog=1
INI
(cd "$dir" && PVX_TEST_FILL_HISTORY=1 exec -a pvx "$top/$build/pvx" -c "$dir/pvx.ini" >"$dir/pvx.log" 2>&1) &
pid=$!
pids+=("$pid")
base=http://127.0.0.1:$port
for _ in $(seq 300); do
  curl -s "$base/metrics" 2>/dev/null | grep -q '^pvx_ups_connected 1' && break
  sleep 0.1
done
sleep 2 # the first sample fills the day

cpu() { awk '{print $1}' "/proc/$pid/schedstat"; }
# cost <path>: pvx's CPU time per request, less what it spends idle over as long.
cost() {
  local urls=() start end busy idle t0 t1
  for _ in $(seq "$requests"); do urls+=("$base$1"); done
  t0=$(date +%s%N); start=$(cpu)
  curl -s "${urls[@]}" >/dev/null
  end=$(cpu); t1=$(date +%s%N)
  busy=$((end - start))
  start=$(cpu); sleep "$(awk -v ns=$((t1 - t0)) 'BEGIN{printf "%.3f", ns / 1e9}')"; idle=$(($(cpu) - start))
  awk -v b=$busy -v i=$idle -v n="$requests" 'BEGIN{printf "%.0f us", (b - i) / n / 1000}'
}

page=$(curl -s "$base/")
echo "events on the page: $(grep -o '<tr><td>' <<<"$page" | wc -l), charts with a line: $(grep -o '<path class="line"' <<<"$page" | wc -l)"
echo "CPU per page (/):        $(cost /)"
echo "CPU per /metrics scrape: $(cost /metrics)"
echo "CPU per /history.json:   $(cost /history.json)"
for path in / /metrics /events.json /events.csv /history.json; do
  printf 'size of %-13s %7d bytes\n' "$path" "$(curl -s "$base$path" | wc -c)"
done
sizes=$(printf '#include "ups/StatusRecords.h"\n#include <cstdio>\nint main(){std::printf("%%zu %%zu %%zu", sizeof(pvx::CHistory), sizeof(pvx::CEventLog), sizeof(pvx::SStatusRecords));}\n' \
  | c++ -std=c++20 -I"$top" -x c++ - -o "$run/sizes" && "$run/sizes")
read -r history log records <<<"$sizes"
echo "memory: a day of samples $history bytes, the event log $log bytes, all records $records bytes"
echo "pvx resident: $(awk '/VmRSS/{print $2, $3}' "/proc/$pid/status")"
