#!/usr/bin/env bash
# Measures how pvx serves a polite manager under attack, in one run against
# its simulated UPS (option -i off, Network/ResponsiveLoop=1, SNMP, relay and
# HTTP on): a GET every 20 ms from 127.0.0.3, each waited for 1 s at most,
# for RUN_SECONDS while each flood runs, then all together, then while the
# UPS is silent: GETs answered, lost (no answer within 1 s), p50, p99 and the
# longest. The floods:
#   snmp   64 GETs in flight from 127.0.0.2 (pvx-snmpload)
#   relay  datagrams of identity queries and meter requests from 127.0.0.4,
#          one every 2 ms
#   http   300 clients from 127.0.1.x sending a byte a second (and coming
#          back when closed), and one client from 127.0.0.5 scraping
#          /metrics as fast as it is answered
# Last, a relay password guesser from 127.0.0.2 for GUESS_SECONDS: datagrams
# of 116 wrong password frames and an identity query, as fast as they are
# answered; it prints the password frames pvx checked a second (from
# pvx_relay_password_frames_total where pvx counts them, else every frame of
# every datagram answered).
# Nothing here is a pass/fail test; figures on a shared machine are noisy.
#
# Usage: scripts/bench-faults.sh [build folder, default: build]
# Environment: RUN_SECONDS (default 10), GUESS_SECONDS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
[[ $build == /* ]] || build=$top/$build
run_seconds=${RUN_SECONDS:-10}
guess_seconds=${GUESS_SECONDS:-5}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPVX_TESTS=OFF >/dev/null
fi
ninja -C "$build" pvx pvx-upssim pvx-snmpload >/dev/null

run=$(mktemp -d /tmp/pvx-bench-faults.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

"$build/pvx-upssim" -l "$run/ups" -s "$run/control" -q >"$run/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -e $run/ups && -e $run/control ]] && break; sleep 0.1; done
snmp_port=$(free_port)
relay_port=$(free_port)
http_port=$(free_port)
cat >"$run/pvx.ini" <<INI
[Communications]
CommunicationsPort=$run/ups
[SNMP]
Enabled=1
AgentPort=$snmp_port
[NetXCP]
Enabled=1
AgentPort=$relay_port
[Network]
ResponsiveLoop=1
[HTTP]
Enabled=1
Port=$http_port
INI
(cd "$run" && exec -a pvx "$build/pvx" -c "$run/pvx.ini" >"$run/pvx.out" 2>"$run/pvx.err") &
pids+=($!)
for _ in $(seq 300); do grep -q 'UPS found is' "$run/pvx.out" 2>/dev/null && break; sleep 0.1; done
sleep 3

control() {
  python3 - "$run/control" "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(sys.argv[2].encode() + b"\n")
reply = b""
while not (reply.endswith(b"ok\n") or b"error" in reply):
    chunk = s.recv(4096)
    if not chunk:
        break
    reply += chunk
PY
}

# The floods, each a background process ended by its PID.
flood() {
  local kind=$1 seconds=$2
  case $kind in
  snmp)
    "$build/pvx-snmpload" -p "$snmp_port" -s 127.0.0.2 -k 64 -d "$seconds" 1.3.6.1.2.1.33.1.2.1.0 >/dev/null &
    ;;
  relay | http | guess)
    python3 - "$kind" "$seconds" "$relay_port" "$http_port" >"$run/$kind.result" <<'PY' &
import socket, sys, time, selectors
kind, seconds, relay_port, http_port = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
end = time.monotonic() + seconds

def frame(*contents):
    f = bytes([0xAB, len(contents)]) + bytes(contents)
    return f + bytes([(-sum(f)) & 0xFF])

if kind == "relay":
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.4", 0))
    s.setblocking(False)
    datagram = b"".join(frame(0x00) for _ in range(10)) + b"".join(frame(0x34) for _ in range(10))
    while time.monotonic() < end:
        try:
            s.sendto(datagram, ("127.0.0.1", relay_port))
            s.recv(2048)
        except OSError:
            pass
        time.sleep(0.002)
elif kind == "guess":
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.2", 0))
    s.settimeout(0.5)
    datagram = b"".join(frame(0xCF, *b"%06d" % (100000 + i)) for i in range(116)) + frame(0x00)
    answered = 0
    start = time.monotonic()
    while time.monotonic() < end:
        s.sendto(datagram, ("127.0.0.1", relay_port))
        try:
            s.recv(2048)
            answered += 1
        except OSError:
            pass
    print(answered, 116, time.monotonic() - start)
else:
    sel = selectors.DefaultSelector()
    slow = {}
    def open_slow(i):
        c = socket.socket()
        c.bind(("127.0.1.%d" % (1 + i % 250), 0))
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", http_port))
        slow[i] = c
    for i in range(300):
        open_slow(i)
    scrape = None
    next_byte = time.monotonic()
    while time.monotonic() < end:
        if time.monotonic() >= next_byte:
            next_byte += 1
            for i, c in list(slow.items()):
                try:
                    c.send(b"G")
                except OSError:
                    c.close()
                    open_slow(i)
        if scrape is None:
            scrape = socket.socket()
            scrape.bind(("127.0.0.5", 0))
            scrape.settimeout(2)
            try:
                scrape.connect(("127.0.0.1", http_port))
                scrape.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
                while scrape.recv(65536):
                    pass
            except OSError:
                pass
            scrape.close()
            scrape = None
    for c in slow.values():
        c.close()
PY
    ;;
  esac
  echo $!
}

# The floods run in the background of a command substitution, so they are
# no children of this shell: wait for them by PID.
await_pid() {
  while kill -0 "$1" 2>/dev/null; do sleep 0.2; done
}

# One GET every 20 ms from 127.0.0.3, each waited for at most 1 s.
polite() {
  python3 - "$1" "$run_seconds" "$snmp_port" <<'PY'
import socket, sys, time
label, seconds, port = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
def tlv(tag, body):
    return bytes([tag, len(body)]) + body
name = bytes([0x2B, 6, 1, 2, 1, 33, 1, 2, 1, 0])  # upsBatteryStatus.0
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.3", 0))
latencies, lost, sent = [], 0, 0
end = time.monotonic() + seconds
request_id = 0x4000
while time.monotonic() < end:
    request_id = 0x4000 + (request_id + 1) % 0x3FFF  # always two bytes, as the reply has it too
    pdu = tlv(0xA0, tlv(2, request_id.to_bytes(2, "big")) + tlv(2, b"\0") + tlv(2, b"\0")
              + tlv(0x30, tlv(0x30, tlv(6, name) + b"\x05\x00")))
    message = tlv(0x30, tlv(2, b"\0") + tlv(4, b"gavrel") + pdu)
    start = time.monotonic()
    s.sendto(message, ("127.0.0.1", port))
    sent += 1
    answered = False
    while not answered:
        left = start + 1.0 - time.monotonic()
        if left <= 0:
            break
        s.settimeout(left)
        try:
            reply = s.recv(2048)
        except OSError:
            break
        answered = request_id.to_bytes(2, "big") in reply[:40]
    if answered:
        latencies.append(time.monotonic() - start)
    else:
        lost += 1
    time.sleep(max(0.0, start + 0.02 - time.monotonic()))
latencies.sort()
def pct(f):
    return 1000 * latencies[min(len(latencies) - 1, int(f * len(latencies)))] if latencies else 0
print("%-16s polite GETs (one every 20 ms) sent %4d, answered %4d, lost %3d, p50 %7.2f ms, p99 %7.2f ms, max %7.2f ms"
      % (label, sent, len(latencies), lost, pct(0.5), pct(0.99), 1000 * latencies[-1] if latencies else 0))
PY
}

echo "== pvx from $build, ${run_seconds}s per row"
polite idle
for kind in snmp relay http; do
  pid=$(flood "$kind" "$((run_seconds + 1))")
  pids+=("$pid")
  polite "$kind-flood"
  await_pid "$pid" 
done
all=()
for kind in snmp relay http; do
  all+=("$(flood "$kind" "$((run_seconds + 1))")")
done
pids+=("${all[@]}")
polite all-floods
for pid in "${all[@]}"; do await_pid "$pid"; done

control "fault silence on"
polite silent-ups
control "fault silence off"
sleep 25 # the UPS is found again

metric() {
  python3 - "$http_port" <<'PY'
import socket, sys
text = b""
try:
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
    s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        text += chunk
except OSError:
    pass
total = None
for line in text.decode(errors="replace").splitlines():
    if line.startswith("pvx_relay_password_frames_total{") and ('"wrong"' in line or '"right"' in line):
        total = (total or 0) + int(line.split()[-1])
print(-1 if total is None else total)
PY
}
before=$(metric)
pid=$(flood guess "$guess_seconds")
pids+=("$pid")
await_pid "$pid" 
after=$(metric)
read -r answered per seconds <"$run/guess.result"
if ((before >= 0)); then
  checked=$((after - before))
else
  checked=$((answered * per))
fi
awk -v a="$answered" -v p="$per" -v s="$seconds" -v c="$checked" 'BEGIN {
  printf "guesser          %d datagrams of %d wrong passwords answered in %.1f s; passwords checked a second: %.1f\n",
    a, p, s, c / s }'
