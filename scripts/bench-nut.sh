#!/usr/bin/env bash
# Measures the RFC 9271 server side by side in one run: pvx (NUT/Enabled=1,
# Network/ResponsiveLoop=1, polling its own simulated UPS) and NUT's upsd
# with the dummy-ups driver (Debian nut-server), each with private
# configuration and state folders, both on loopback ports taken from a fixed
# range (34930 to 34969) after checking that they are free.
#
# For GET VAR ups.status with 1, 8 and 64 connections, each sending its next
# request when the reply is in, it prints requests answered a second and the
# server's CPU time per answered request (what the server spends in the same
# time without clients is taken off); then the wall time of LIST VAR on one
# connection, from the request to the end of the list, median and 99th
# percentile of LIST_RUNS requests. The clients are one Python process, so
# the request rates say more about the client than the servers; the CPU
# time per request and the LIST VAR time are the figures.
#
# CPU time is read from /proc/<pid>/schedstat (ns on the CPU). Nothing here
# is a pass/fail test; figures on a shared machine are noisy.
#
# Usage: scripts/bench-nut.sh [build folder, default: build]
# Environment: RUN_SECONDS (each run, default 3), LIST_RUNS (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
run_seconds=${RUN_SECONDS:-3}
list_runs=${LIST_RUNS:-200}
for program in /lib/nut/upsd /lib/nut/dummy-ups; do
  if [[ ! -x $program ]]; then
    echo "bench-nut: $program is missing (Debian package nut-server, see scripts/install-deps.sh)" >&2
    exit 1
  fi
done
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" pvx pvx-upssim >/dev/null

source scripts/bench-common.sh pvx-bench-nut
chmod 755 "$run"

# The first free TCP port of 34930..34969 at or after $1 on 127.0.0.1.
free_tcp_port() {
  python3 - "$1" <<'PY'
import socket, sys
for port in range(int(sys.argv[1]), 34970):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        s.close()
    print(port)
    break
else:
    sys.exit("bench-nut: no free port in 34930..34969")
PY
}

cpu_ns() { awk '{ print $1 }' "/proc/$1/schedstat"; }

# ---- pvx and its simulated UPS ----------------------------------------------
mkdir -p "$run/pvx"
"$top/$build/pvx-upssim" -l "$run/pvx/ups" -q >"$run/pvx/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e $run/pvx/ups ]] && break; sleep 0.1; done
pvx_port=$(free_tcp_port 34930)
cat >"$run/pvx/pvx.ini" <<INI
[Communications]
CommunicationsPort=$run/pvx/ups
[Network]
ResponsiveLoop=1
SourceAddress=127.0.0.1
[NetXCP]
Enabled=0
[NUT]
Enabled=1
Port=$pvx_port
INI
# Started by name, not by path: no two-minute start-up pause.
(cd "$run/pvx" && exec -a pvx "$top/$build/pvx" -c "$run/pvx/pvx.ini" >"$run/pvx/pvx.log" 2>&1) &
pvx_pid=$!
pids+=("$pvx_pid")

# ---- upsd and dummy-ups ---------------------------------------------------------
# The same variables as the simulated UPS reports, in dummy-ups' format.
nut=$run/nut
mkdir -p "$nut"
upsd_port=$(free_tcp_port $((pvx_port + 1)))
cat >"$nut/ups.dev" <<DEV
battery.charge: 100
battery.runtime: 1800
battery.runtime.low: 120
battery.temperature: 25
battery.voltage: 54.2
device.mfr: Simul
device.model: UPS 1500
device.type: ups
input.frequency: 50.0
input.voltage: 230
output.current: 2.0
output.frequency: 50.0
output.voltage: 230
ups.beeper.status: enabled
ups.delay.shutdown: 20
ups.delay.start: 30
ups.firmware: 1.20 2.5
ups.id:
ups.load: 30
ups.mfr: Simul
ups.model: UPS 1500
ups.power.nominal: 1500
ups.realpower: 420
ups.status: OL
ups.test.result: No test initiated
ups.timer.shutdown: -1
ups.timer.start: -1
DEV
printf '[ups]\n\tdriver = dummy-ups\n\tport = ups.dev\n\tdesc = "bench"\n' >"$nut/ups.conf"
printf 'LISTEN 127.0.0.1 %s\n' "$upsd_port" >"$nut/upsd.conf"
printf '[bench]\n\tpassword = bench\n\tupsmon secondary\n' >"$nut/upsd.users"
chmod 600 "$nut"/*
export NUT_CONFPATH=$nut NUT_STATEPATH=$nut NUT_ALTPIDPATH=$nut
/lib/nut/dummy-ups -a ups -u root -F >"$nut/driver.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -S $nut/dummy-ups-ups ]] && break; sleep 0.1; done
/lib/nut/upsd -F -u root >"$nut/upsd.log" 2>&1 &
upsd_pid=$!
pids+=("$upsd_pid")
unset NUT_CONFPATH NUT_STATEPATH NUT_ALTPIDPATH

# ---- the client -------------------------------------------------------------------
cat >"$run/client.py" <<'PY'
import selectors, socket, statistics, sys, time

mode, port, count, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])

def connect(source=1):
    # Each connection from an address of its own, as hosts would connect.
    s = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.%d" % (10 + source), 0))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s

def ready():
    s = connect()
    s.sendall(b"GET VAR ups ups.status\n")
    ok = s.recv(4096).startswith(b"VAR ")
    s.close()
    return ok

if mode == "ready":
    end = time.time() + seconds
    while time.time() < end:
        try:
            if ready():
                sys.exit(0)
        except OSError:
            pass
        time.sleep(0.2)
    sys.exit(1)

if mode == "get":
    request = b"GET VAR ups ups.status\n"
    selector = selectors.DefaultSelector()
    pending = {}
    for i in range(count):
        s = connect(i)
        s.setblocking(False)
        selector.register(s, selectors.EVENT_READ)
        pending[s] = b""
    answered = 0
    start = time.time()
    for s in pending:
        s.send(request)
    while time.time() - start < seconds:
        for key, _ in selector.select(1):
            s = key.fileobj
            data = pending[s] + s.recv(4096)
            lines = data.count(b"\n")
            pending[s] = data[data.rfind(b"\n") + 1:]
            answered += lines
            if lines:
                s.send(request)
    print(answered, time.time() - start)

if mode == "list":
    s = connect()
    times = []
    for _ in range(count):
        begin = time.perf_counter()
        s.sendall(b"LIST VAR ups\n")
        data = b""
        while not data.endswith(b"END LIST VAR ups\n"):
            data += s.recv(65536)
        times.append(time.perf_counter() - begin)
    times.sort()
    print("%.3f %.3f %d" % (statistics.median(times) * 1000, times[int(len(times) * 0.99) - 1] * 1000,
                            data.count(b"\n") - 2))
PY
client() { python3 "$run/client.py" "$@"; }

if ! client ready "$pvx_port" 0 60; then
  echo "bench-nut: pvx does not answer" >&2
  cat "$run/pvx/pvx.log" >&2
  exit 1
fi
if ! client ready "$upsd_port" 0 20; then
  echo "bench-nut: upsd does not answer" >&2
  cat "$nut/driver.log" "$nut/upsd.log" >&2
  exit 1
fi
pid_of() { if [[ $1 == pvx ]]; then echo "$pvx_pid"; else echo "$upsd_pid"; fi; }
port_of() { if [[ $1 == pvx ]]; then echo "$pvx_port"; else echo "$upsd_port"; fi; }

# What each server spends on its own in RUN_SECONDS (polling its UPS or driver).
declare -A idle
for server in pvx upsd; do
  before=$(cpu_ns "$(pid_of $server)")
  sleep "$run_seconds"
  idle[$server]=$(($(cpu_ns "$(pid_of $server)") - before))
done

echo "GET VAR ups ups.status, $run_seconds s a run (pvx on port $pvx_port, upsd on port $upsd_port)"
printf '%-5s %-3s %12s %18s\n' server K "answered/s" "CPU us a request"
for k in 1 8 64; do
  for server in pvx upsd; do
    pid=$(pid_of $server)
    before=$(cpu_ns "$pid")
    read -r answered elapsed < <(client get "$(port_of $server)" "$k" "$run_seconds")
    used=$(($(cpu_ns "$pid") - before - ${idle[$server]}))
    awk -v s=$server -v k="$k" -v n="$answered" -v t="$elapsed" -v ns="$used" \
      'BEGIN { printf "%-5s %-3d %12.0f %18.1f\n", s, k, n / t, (n > 0 ? ns / n / 1000 : 0) }'
  done
done

echo
echo "LIST VAR ups on one connection, $list_runs requests"
printf '%-5s %10s %10s %10s\n' server "median ms" "p99 ms" variables
for server in pvx upsd; do
  read -r median p99 variables < <(client list "$(port_of $server)" "$list_runs" 0)
  printf '%-5s %10s %10s %10s\n' "$server" "$median" "$p99" "$variables"
done
