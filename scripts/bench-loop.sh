#!/usr/bin/env bash
# Measures what an SNMP manager meets, with net-snmp's own tools at their
# defaults (time-out 1 s, 5 retries), against two daemons run side by side,
# each polling its own simulated UPS with option -i off: one with the default
# loop (one network request per pass) and one with Network/ResponsiveLoop=1.
# Prints, for each: the latency of one snmpget, the time, object count and
# retries of snmpwalk -v1 of 1.3.6.1.2.1.33 and of 1.3.6.1.4.1.534.1, and the
# UPS's polling cadence read from the simulator's frame log.
#
# Usage: scripts/bench-loop.sh [build folder, default: build]
# The default loop's walks take minutes; nothing here is a pass/fail test.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
if [[ ! -x $build/pvx || ! -x $build/pvx-upssim ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" pvx pvx-upssim >/dev/null

# shellcheck source=scripts/bench-common.sh
source scripts/bench-common.sh pvx-bench

# start <name> <ResponsiveLoop value>: a simulator and a daemon in $run/<name>
start() {
  local name=$1 responsive=$2 dir=$run/$1
  mkdir -p "$dir"
  "$top/$build/pvx-upssim" -l "$dir/ups" -q -f "$dir/frames.log" >"$dir/upssim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [[ -e $dir/ups ]] && break; sleep 0.1; done
  local snmp relay
  snmp=$(free_port)
  relay=$(free_port)
  echo "$snmp" >"$dir/port"
  cat >"$dir/pvx.ini" <<INI
[Communications]
CommunicationsPort=$dir/ups
[SNMP]
Enabled=1
AgentPort=$snmp
ManagerPort=$(free_port)
[Network]
ResponsiveLoop=$responsive
[NetXCP]
AgentPort=$relay
INI
  # Started by name, not by path: no two-minute start-up pause.
  (cd "$dir" && exec -a pvx "$top/$build/pvx" -c "$dir/pvx.ini" >"$dir/pvx.log" 2>&1) &
  pids+=($!)
}

# Polling has begun once the simulator saw the first full meter cycle.
wait_ready() {
  local dir=$run/$1
  for _ in $(seq 300); do grep -q '^rx 32' "$dir/frames.log" 2>/dev/null && return 0; sleep 0.1; done
  echo "$1: the UPS was not identified" >&2
  cat "$dir/pvx.log" >&2
  exit 1
}

now_ms() { date +%s%3N; }

declare -A result

# snmpget latency: twenty requests, two to four seconds apart (so that they
# meet the loop at every point of its pass and a retry's duplicate is gone
# before the next one).
measure_get() {
  local name=$1 port total=0 worst=0 start took
  port=$(cat "$run/$name/port")
  for _ in $(seq 20); do
    start=$(now_ms)
    snmpget -v1 -c gavrel -m '' 127.0.0.1:"$port" 1.3.6.1.2.1.33.1.2.1.0 >/dev/null 2>&1 || true
    took=$(($(now_ms) - start))
    total=$((total + took))
    ((took > worst)) && worst=$took
    sleep "$((2 + RANDOM % 2)).$((RANDOM % 10))"
  done
  result[$name.get]="$((total / 20)) ms mean, $worst ms worst"
}

# measure_walk <name> <subtree> [tool options]: the time, objects and retries
# of one walk; without options, net-snmp's defaults (time-out 1 s, 5 retries).
measure_walk() {
  local name=$1 subtree=$2 port start took status objects sent key
  shift 2
  key="$name.$subtree${*:+ $*}"
  port=$(cat "$run/$name/port")
  start=$(now_ms)
  status=0
  timeout 1200 snmpwalk -v1 -c gavrel -m '' -On -d "$@" 127.0.0.1:"$port" "$subtree" \
    >"$run/$name/walk.out" 2>"$run/$name/walk.err" || status=$?
  took=$(($(now_ms) - start))
  objects=$(grep -c '^\.1\.3\.6\.1\.' "$run/$name/walk.out" || true)
  sent=$(grep -c '^Sending ' "$run/$name/walk.err" || true)
  local outcome="complete"
  if ((status != 0)); then
    outcome="failed (status $status: $(grep -v '^$\|^0\|^Sending\|^Received' "$run/$name/walk.err" | head -1))"
  fi
  # One request per object, and one more that leaves the subtree.
  result[$key]="$(awk -v t="$took" 'BEGIN { printf "%.2f s", t / 1000 }'), $objects objects, \
$sent requests sent, $((sent - objects - 1)) retries, $outcome"
}

# Requests the simulator receives in 60 s, written to <name>/cadence.<label>;
# with "loaded", snmpwalk runs against the daemon over and over meanwhile.
measure_cadence() {
  local name=$1 label=$2 port before after end
  port=$(cat "$run/$name/port")
  before=$(grep -c '^rx ' "$run/$name/frames.log")
  end=$(($(now_ms) + 60000))
  if [[ $label == loaded ]]; then
    while (($(now_ms) < end)); do
      timeout 30 snmpwalk -v1 -c gavrel -m '' -t 1 -r 0 127.0.0.1:"$port" 1.3.6.1.2.1.33 >/dev/null 2>&1 || true
    done
  else
    sleep 60
  fi
  after=$(grep -c '^rx ' "$run/$name/frames.log")
  echo "$((after - before))" >"$run/$name/cadence.$label"
}

start default 0
start responsive 1
wait_ready default
wait_ready responsive
echo "pvx $(git describe --always --dirty 2>/dev/null || echo '?'), $(nproc) cores, $(date -u '+%F %T') UTC"

measure_cadence default idle &
side=$!
measure_cadence responsive idle
wait "$side"
for name in default responsive; do
  measure_get "$name"
done
# A walk that failed leaves its retries queued in the default loop, one
# served per pass: let them drain before the next walk.
for options in "" "-t 5 -r 1"; do
  for subtree in 1.3.6.1.2.1.33 1.3.6.1.4.1.534.1; do
    # shellcheck disable=SC2086
    measure_walk responsive "$subtree" $options
    # shellcheck disable=SC2086
    measure_walk default "$subtree" $options
    sleep 40
  done
done
measure_cadence default loaded &
side=$!
measure_cadence responsive loaded
wait "$side"
for name in default responsive; do
  result[$name.cadence]="$(cat "$run/$name/cadence.idle") idle, $(cat "$run/$name/cadence.loaded") under walks"
done

echo
echo "default = ResponsiveLoop=0 (one request per pass), responsive = ResponsiveLoop=1"
printf '%s\n  %-10s %s\n  %-10s %s\n' "snmpget latency" default "${result[default.get]}" responsive "${result[responsive.get]}"
for options in "" " -t 5 -r 1"; do
  for subtree in 1.3.6.1.2.1.33 1.3.6.1.4.1.534.1; do
    printf '%s\n  %-10s %s\n  %-10s %s\n' "snmpwalk$options $subtree" default "${result[default.$subtree$options]}" \
      responsive "${result[responsive.$subtree$options]}"
  done
done
printf '%s\n  %-10s %s\n  %-10s %s\n' "UPS requests in 60 s" default "${result[default.cadence]}" responsive \
  "${result[responsive.cadence]}"
