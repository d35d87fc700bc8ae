#!/usr/bin/env bash
# Measures SNMP throughput side by side in one run: pvx with
# Network/ResponsiveLoop=1, polling its own simulated UPS (option -i off),
# and net-snmp's snmpd with a minimal configuration of its own (read-only
# community, the system group only, no AgentX, no SMUX, no machine-wide
# configuration), both on loopback ports.
#
# For GET, GET-NEXT and GetBulk (10 repetitions) with 1, 8 and 64 requests in
# flight (build/pvx-snmpload), it prints requests answered a second, lost
# requests (no reply within the time-out), replies with an error status,
# latency, and the server's CPU time per answered request; the longest gap
# between two polls of the UPS around each pvx run, from the simulator's
# frame log; a manager's latency (K=1 from 127.0.0.3) while another client
# floods the server (K=64 from 127.0.0.2); and the idle figures: CPU share
# over 30 s and private resident memory.
#
# CPU time is read from /proc/<pid>/schedstat (time on the CPU in ns), or
# from utime+stime of /proc/<pid>/stat where that is missing; the ticks of
# the latter are 10 ms, too coarse for runs of a few thousand requests of a
# few microseconds each.
#
# SNMPv3: both servers know the same authPriv user (HMAC-SHA-96, AES-128).
# The GET that net-snmp's snmpget sends after discovering the engine is
# captured (its -d dump) and sent again and again at K=1 for RUN_SECONDS, well
# inside the 150 s time window, beside a v1 GET sent the same way: each copy
# is authenticated, decrypted, answered, encrypted and signed anew, so the
# server's CPU time per reply is the price of authPriv against v1.
#
# The floor: GET at K = 1, 8 and 64 against a minimal UDP echo in C, built
# here, that answers each request with its own bytes under the GetResponse
# tag, in two shapes: one datagram per wake-up (poll, recvfrom, sendto, as
# pvx serves), and batched (poll, then recvmmsg and sendmmsg of up to 64).
# The summary prints pvx's CPU time per GET against snmpd's and against both
# floors, and pvx's requests a second against snmpd's.
#
# snmpd runs as Debian's unit starts it (-LOw: warnings and worse only, to
# standard output, kept in the run folder), so that it does not pay for a log
# line per request. Every port comes from a fixed range (BENCH_PORT_BASE,
# default 47160, 40 ports), each checked free on loopback before it is used.
#
# The relay: 15 single-frame identification requests one after another,
# each with a 3 s client time-out, then all 15 at once, counted as answered,
# told busy or lost, with the UPS's longest gap between polls meanwhile.
#
# A request that a server does not serve yet (GetBulk needs SNMPv2c) shows as
# "no answer". Nothing here is a pass/fail test; figures on a shared machine
# are noisy.
#
# Usage: scripts/bench-snmp.sh [build folder, default: build]
# Environment: RUN_SECONDS (each run, default 3), TIMEOUT_MS (a request is
# lost after it, default 1000), GET_VERSION (1 or 2c for GET and GET-NEXT,
# default 1), IDLE_SECONDS (default 30), FLOOR (0: no echo floor),
# BENCH_PORT_BASE (first port of the range).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
run_seconds=${RUN_SECONDS:-3}
timeout_ms=${TIMEOUT_MS:-1000}
get_version=${GET_VERSION:-1}
idle_seconds=${IDLE_SECONDS:-30}
floor=${FLOOR:-1}
port_base=${BENCH_PORT_BASE:-47160}
snmpd_bin=/usr/sbin/snmpd
if [[ ! -x $snmpd_bin ]]; then
  echo "bench-snmp: $snmpd_bin is missing (Debian package snmpd, see scripts/install-deps.sh)" >&2
  exit 1
fi
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" pvx pvx-upssim pvx-snmpload pvx-passwd >/dev/null
load=$top/$build/pvx-snmpload

# shellcheck source=scripts/bench-common.sh
source scripts/bench-common.sh pvx-bench-snmp

# take_port <variable>: the next port of the fixed range that is free for
# UDP on loopback. The range is walked once (no subshell, so the walk goes
# on), and a run never takes the same port twice.
next_port=$port_base
take_port() {
  while ((next_port < port_base + 40)); do
    local port=$next_port
    next_port=$((next_port + 1))
    if python3 -c 'import socket, sys; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", int(sys.argv[1])))' \
      "$port" 2>/dev/null; then
      printf -v "$1" '%s' "$port"
      return 0
    fi
  done
  echo "bench-snmp: no free UDP port left in $port_base-$((port_base + 39))" >&2
  return 1
}

# Time on the CPU of a process so far, in ns.
cpu_ns() {
  local pid=$1
  if [[ -r /proc/$pid/schedstat ]]; then
    awk '{ print $1 }' "/proc/$pid/schedstat"
  else
    # Fields after the command name, which sits in parentheses.
    sed 's/^.*) //' "/proc/$pid/stat" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.0f\n", ($12 + $13) * 1e9 / hz }'
  fi
}

# Private resident memory in kB, and the dirty part of it: clean pages count
# as private only while no other process maps the same file.
private_kb() {
  awk '/^Private_(Clean|Dirty):/ { sum += $2 } /^Private_Dirty:/ { dirty = $2 }
    END { printf "%d kB (dirty %d kB)\n", sum, dirty }' "/proc/$1/smaps_rollup"
}

# ---- pvx and its simulated UPS ----------------------------------------------
mkdir -p "$run/pvx"
"$top/$build/pvx-upssim" -l "$run/pvx/ups" -q -f "$run/pvx/frames.log" >"$run/pvx/upssim.log" 2>&1 &
sim_pid=$!
pids+=("$sim_pid")
for _ in $(seq 50); do [[ -e $run/pvx/ups ]] && break; sleep 0.1; done
take_port pvx_port
take_port pvx_manager_port
take_port pvx_relay_port
cat >"$run/pvx/pvx.ini" <<INI
[Communications]
CommunicationsPort=$run/pvx/ups
[SNMP]
Enabled=1
AgentPort=$pvx_port
Version2c=1
ManagerPort=$pvx_manager_port
[Network]
ResponsiveLoop=1
SourceAddress=127.0.0.1
[NetXCP]
AgentPort=$pvx_relay_port
[SNMPv3]
Enabled=1
User1=ops,authPriv,SHA,$("$top/$build/pvx-passwd" -3 SHA 'ops auth phrase'),AES,$("$top/$build/pvx-passwd" -3 SHA 'ops priv phrase'),read
INI
# Version2c=1 lets a pvx that knows SNMPv2c answer GetBulk; one that does
# not ignores the key and drops version-2c messages.
# Started by name, not by path: no two-minute start-up pause.
(cd "$run/pvx" && exec -a pvx "$top/$build/pvx" -c "$run/pvx/pvx.ini" >"$run/pvx/pvx.log" 2>&1) &
pvx_pid=$!
pids+=("$pvx_pid")

# Every request the UPS receives, time-stamped as it is logged: the frame
# log itself has no times. tail ends with the simulator at the latest.
touch "$run/pvx/frames.log"
(
  tail -n +1 -F --pid="$sim_pid" "$run/pvx/frames.log" 2>/dev/null &
  echo $! >"$run/pvx/tail.pid"
  wait
) | while IFS= read -r line; do
  # The time and the request's command: relayed requests are told apart.
  [[ $line == 'rx '* ]] && echo "$EPOCHREALTIME ${line:3:2}"
done >"$run/pvx/polls" &
pids+=($!)
for _ in $(seq 50); do [[ -s $run/pvx/tail.pid ]] && break; sleep 0.1; done
pids+=("$(cat "$run/pvx/tail.pid")")

# ---- snmpd --------------------------------------------------------------------
mkdir -p "$run/snmpd/persist" "$run/snmpd/mibs"
take_port snmpd_port
cat >"$run/snmpd/snmpd.conf" <<CONF
agentaddress udp:127.0.0.1:$snmpd_port
view systemonly included .1.3.6.1.2.1.1
rocommunity gavrel 127.0.0.0/8 -V systemonly
createUser ops SHA "ops auth phrase" AES "ops priv phrase"
rouser ops priv -V systemonly
sysLocation bench
sysContact bench
CONF
# -LOw: as Debian's unit, warnings and worse only (here to the run folder).
# -C: no configuration but this file (SNMPCONFPATH keeps the library's own
# files out too); no "master agentx" line, so no AgentX socket; -I -smux: no
# SMUX listener on TCP port 199; -f: in the foreground, so $! is snmpd.
SNMPCONFPATH=$run/snmpd SNMP_PERSISTENT_DIR=$run/snmpd/persist MIBDIRS=$run/snmpd/mibs MIBS='' \
  "$snmpd_bin" -f -C -c "$run/snmpd/snmpd.conf" -I -smux -LOw >"$run/snmpd/snmpd.log" 2>&1 &
snmpd_pid=$!
pids+=("$snmpd_pid")

# ---- the floor: a minimal UDP echo in C, one shape per process -------------------
# It answers with the request's own bytes under the GetResponse tag (0xA2),
# which is all the load generator checks besides the request-id.
if ((floor)); then
  mkdir -p "$run/echo"
  cat >"$run/echo/echo.c" <<'C'
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

enum { kBatch = 64, kSize = 1500 };

/* The byte after a BER header at `at`, or 0 when the datagram ends first. */
static size_t skip_header(const unsigned char *b, size_t n, size_t at) {
  if (at + 2 > n) return 0;
  size_t len = b[at + 1], head = 2;
  if (len & 0x80) { head += len & 0x7f; len = 0; for (size_t i = 2; i < head && at + i < n; ++i) len = len << 8 | b[at + i]; }
  return at + head <= n ? at + head : 0;
}

/* SEQUENCE, version, community, then the PDU's tag becomes GetResponse. */
static void answer(unsigned char *b, size_t n) {
  size_t at = skip_header(b, n, 0);
  for (int item = 0; item < 2 && at; ++item) {
    size_t contents = skip_header(b, n, at);
    if (!contents) return;
    size_t len = b[at + 1] & 0x80 ? 0 : b[at + 1];
    if (b[at + 1] & 0x80) for (size_t i = at + 2; i < contents; ++i) len = len << 8 | b[i];
    at = contents + len;
  }
  if (at && at < n) b[at] = 0xA2;
}

int main(int argc, char **argv) {
  int batched = argc > 2 && strcmp(argv[2], "batched") == 0;
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  struct sockaddr_in me = { .sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[1])) };
  me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, (struct sockaddr *)&me, sizeof me) != 0) return 1;
  static unsigned char data[kBatch][kSize];
  static struct sockaddr_in peers[kBatch];
  static struct iovec iov[kBatch];
  static struct mmsghdr msgs[kBatch];
  struct pollfd p = { .fd = fd, .events = POLLIN };
  for (;;) {
    if (poll(&p, 1, -1) <= 0) continue;
    if (!batched) {
      struct sockaddr_in peer; socklen_t size = sizeof peer;
      ssize_t n = recvfrom(fd, data[0], kSize, 0, (struct sockaddr *)&peer, &size);
      if (n <= 0) continue;
      answer(data[0], (size_t)n);
      sendto(fd, data[0], (size_t)n, 0, (struct sockaddr *)&peer, size);
      continue;
    }
    for (int i = 0; i < kBatch; ++i) {
      iov[i] = (struct iovec){ .iov_base = data[i], .iov_len = kSize };
      msgs[i].msg_hdr = (struct msghdr){ .msg_name = &peers[i], .msg_namelen = sizeof peers[i], .msg_iov = &iov[i], .msg_iovlen = 1 };
    }
    int got = recvmmsg(fd, msgs, kBatch, MSG_DONTWAIT, NULL);
    if (got <= 0) continue;
    for (int i = 0; i < got; ++i) { answer(data[i], msgs[i].msg_len); iov[i].iov_len = msgs[i].msg_len; }
    sendmmsg(fd, msgs, (unsigned)got, 0);
  }
}
C
  cc -O2 -o "$run/echo/echo" "$run/echo/echo.c"
  take_port echo1_port
  take_port echoN_port
  "$run/echo/echo" "$echo1_port" single &
  echo1_pid=$!
  pids+=("$echo1_pid")
  "$run/echo/echo" "$echoN_port" batched &
  echoN_pid=$!
  pids+=("$echoN_pid")
fi

# ---- ready ----------------------------------------------------------------------
# Polling has begun once the simulator saw the first full meter cycle.
for _ in $(seq 300); do grep -q '^rx 32' "$run/pvx/frames.log" 2>/dev/null && break; sleep 0.1; done
if ! grep -q '^rx 32' "$run/pvx/frames.log"; then
  echo "bench-snmp: pvx did not identify the UPS" >&2
  cat "$run/pvx/pvx.log" >&2
  exit 1
fi
ready=0
for _ in $(seq 50); do
  answer=$("$load" -p "$snmpd_port" -v 2c -N 1 -t 200 -d 1 1.3.6.1.2.1.1.3.0 || true)
  if [[ $answer == *' answered=1 '* ]]; then
    ready=1
    break
  fi
  sleep 0.1
done
if ((ready == 0)); then
  echo "bench-snmp: snmpd does not answer" >&2
  cat "$run/snmpd/snmpd.log" >&2
  exit 1
fi

field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"; }

# load_args <server> <operation>: the generator's options for one request.
load_args() {
  case $1.$2 in
    pvx.get) echo "-v $get_version -o get 1.3.6.1.2.1.33.1.2.1.0" ;;        # upsBatteryStatus.0
    pvx.next) echo "-v $get_version -o next 1.3.6.1.2.1.33.1.2.1.0" ;;
    pvx.bulk) echo "-v 2c -o bulk -r 10 1.3.6.1.2.1.33.1.2" ;;              # the battery group onward
    snmpd.get) echo "-v $get_version -o get 1.3.6.1.2.1.1.3.0" ;;           # sysUpTime.0
    snmpd.next) echo "-v $get_version -o next 1.3.6.1.2.1.1.3.0" ;;
    snmpd.bulk) echo "-v 2c -o bulk -r 10 1.3.6.1.2.1.1" ;;                 # the system group
    echo*.get) echo "-v $get_version -o get 1.3.6.1.2.1.33.1.2.1.0" ;;      # pvx's request, echoed
  esac
}

port_of() { case $1 in pvx) echo "$pvx_port" ;; snmpd) echo "$snmpd_port" ;; echo1) echo "$echo1_port" ;; *) echo "$echoN_port" ;; esac; }
pid_of() { case $1 in pvx) echo "$pvx_pid" ;; snmpd) echo "$snmpd_pid" ;; echo1) echo "$echo1_pid" ;; *) echo "$echoN_pid" ;; esac; }

# measure <server> <operation> <K>: one run; its line, the server's CPU ns
# and the run's start and end go to $run/results.
measure() {
  local server=$1 op=$2 k=$3 pid before after start line
  pid=$(pid_of "$server")
  start=$EPOCHREALTIME
  before=$(cpu_ns "$pid")
  # shellcheck disable=SC2046
  line=$("$load" -p "$(port_of "$server")" -k "$k" -d "$run_seconds" -t "$timeout_ms" -l "$server" \
    $(load_args "$server" "$op") || true)
  after=$(cpu_ns "$pid")
  echo "$line cpu_ns=$((after - before)) start=$start end=$EPOCHREALTIME" >>"$run/results"
  sleep 0.3
}

# The longest gap between two polls of the UPS that overlaps [start, end];
# a third argument names a command whose requests are not polls.
poll_gap() {
  awk -v from="$1" -v to="$2" -v skip="${3:-}" '$2 == skip { next }
    n++ > 0 && $1 > from && last < to { gap = $1 - last; if (gap > max) max = gap }
    { last = $1 } END { if (max > 0) printf "%.2f s", max; else print "-" }' "$run/pvx/polls"
}

echo "pvx $(git describe --always --dirty 2>/dev/null || echo '?'), snmpd $("$snmpd_bin" -v 2>/dev/null |
  sed -n 's/^NET-SNMP version: *//p'), $(nproc) cores, $(date -u '+%F %T') UTC; $run_seconds s per run," \
  "time-out $timeout_ms ms"

for op in get next bulk; do
  for k in 1 8 64; do
    servers=(pvx snmpd)
    ((floor)) && [[ $op == get ]] && servers+=(echo1 echoN)
    for server in "${servers[@]}"; do
      measure "$server" "$op" "$k"
    done
  done
done

# A manager at K=1 from 127.0.0.3 while another client floods from 127.0.0.2.
flood_seconds=$(awk -v s="$run_seconds" 'BEGIN { print s + 3 }')
for server in pvx snmpd; do
  # shellcheck disable=SC2046
  "$load" -p "$(port_of "$server")" -s 127.0.0.2 -k 64 -d "$flood_seconds" -t "$timeout_ms" -l "$server" \
    $(load_args "$server" get) >"$run/flood.$server" &
  flooder=$!
  pids+=("$flooder")
  sleep 1
  start=$EPOCHREALTIME
  # shellcheck disable=SC2046
  "$load" -p "$(port_of "$server")" -s 127.0.0.3 -k 1 -d "$run_seconds" -t "$timeout_ms" -l "$server" \
    $(load_args "$server" get) >"$run/manager.$server"
  echo "start=$start end=$EPOCHREALTIME" >>"$run/manager.$server"
  wait "$flooder" || true
  sleep 0.3
done

# SNMPv3 authPriv GET against v1 GET, one captured message sent again and
# again at K=1 (see the top of this file).
v3_security=(-v3 -l authPriv -u ops -a SHA -A 'ops auth phrase' -x AES -X 'ops priv phrase')
# The replies are counted by what they are: a response of the request's
# version and, for v3, encrypted and signed (msgFlags 3), not a report.
replay() {
  python3 - "$@" <<'PY'
import socket, sys, time

port, hexdump, seconds = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
# net-snmp's -d dump: the last "Sending" block is the request itself.
data, sending = b"", False
for line in hexdump.splitlines():
    if line.startswith("Sending "):
        data, sending = b"", True
    elif len(line) < 6 or line[4] != ":":
        sending = False
    elif sending:
        data += bytes(int(x, 16) for x in line[6:56].split() if len(x) == 2)

def tlv(buf, at):
    tag, size, at = buf[at], buf[at + 1], at + 2
    if size & 0x80:
        count = size & 0x7F
        size, at = int.from_bytes(buf[at:at + count], "big"), at + count
    return tag, at, size

def good(reply):
    try:
        _, at, _ = tlv(reply, 0)
        _, at, size = tlv(reply, at)
        version = reply[at]
        at += size
        if version != 3:
            _, at, size = tlv(reply, at)  # community
            return reply[at + size] == 0xA2
        _, at, _ = tlv(reply, at)  # msgGlobalData
        for _ in range(2):
            _, at, size = tlv(reply, at)
            at += size
        _, at, size = tlv(reply, at)
        return reply[at] & 3 == 3
    except IndexError:
        return False

s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(1)
answered = lost = errors = 0
end = time.monotonic() + seconds
while time.monotonic() < end:
    s.sendto(data, ("127.0.0.1", port))
    try:
        if good(s.recv(65536)):
            answered += 1
        else:
            errors += 1
    except socket.timeout:
        lost += 1
print(f"bytes={len(data)} answered={answered} lost={lost} errors={errors}")
PY
}
for server in pvx snmpd; do
  if [[ $server == pvx ]]; then oid=1.3.6.1.2.1.33.1.2.1.0; else oid=1.3.6.1.2.1.1.3.0; fi
  for version in 1 3; do
    if [[ $version == 1 ]]; then security=(-v1 -c gavrel); else security=("${v3_security[@]}"); fi
    dump=$(snmpget "${security[@]}" -d -m '' -t 1 -r 0 "127.0.0.1:$(port_of "$server")" "$oid" 2>&1 || true)
    pid=$(pid_of "$server")
    before=$(cpu_ns "$pid")
    line=$(replay "$(port_of "$server")" "$dump" "$run_seconds")
    echo "$server version=$version $line cpu_ns=$(($(cpu_ns "$pid") - before))" >>"$run/v3"
    sleep 0.3
  done
done

# Idle: both servers side by side, pvx polling its UPS.
sleep 2
pvx_idle=$(cpu_ns "$pvx_pid")
snmpd_idle=$(cpu_ns "$snmpd_pid")
sleep "$idle_seconds"
pvx_idle=$(($(cpu_ns "$pvx_pid") - pvx_idle))
snmpd_idle=$(($(cpu_ns "$snmpd_pid") - snmpd_idle))
idle_end=$EPOCHREALTIME
pvx_memory=$(private_kb "$pvx_pid")
snmpd_memory=$(private_kb "$snmpd_pid")
# The relay: 15 single-frame requests for the identification block, one
# after another, each given 3 s before the client gives up on it, then the
# same 15 sent at once. A request
# that does not fit the pass's serial time is told busy (status 0x33) rather
# than left to time out.
relay_start=$EPOCHREALTIME
python3 - "$pvx_relay_port" >"$run/relay" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.4", 0))
s.settimeout(3)
frame = bytes([0xAB, 0x01, 0x31, (0x100 - (0xAB + 0x01 + 0x31)) % 256])
answered = busy = lost = 0
longest = 0.0
began = time.monotonic()
for _ in range(15):
    sent = time.monotonic()
    s.sendto(frame, ("127.0.0.1", int(sys.argv[1])))
    try:
        reply = s.recv(2048)
    except socket.timeout:
        lost += 1
        continue
    longest = max(longest, time.monotonic() - sent)
    if len(reply) > 1 and reply[1] == 0x33:
        busy += 1
    else:
        answered += 1
print(answered, busy, lost, "%.2f" % (time.monotonic() - began), "%.0f" % (longest * 1000))
# The same 15 at once, then 3 s for the replies.
for _ in range(15):
    s.sendto(frame, ("127.0.0.1", int(sys.argv[1])))
answered = busy = 0
deadline = time.monotonic() + 3
while answered + busy < 15 and time.monotonic() < deadline:
    s.settimeout(max(0.01, deadline - time.monotonic()))
    try:
        reply = s.recv(2048)
    except socket.timeout:
        break
    if len(reply) > 1 and reply[1] == 0x33:
        busy += 1
    else:
        answered += 1
print(answered, busy, 15 - answered - busy)
PY
relay_end=$EPOCHREALTIME
# One more pass, so that the last gap is closed by a poll.
sleep 2.5

echo
echo "K = requests in flight; CPU = server time on the CPU per answered request; vb = bindings per reply;"
echo "UPS gap = longest gap between two polls of the UPS around the run"
# Each µ takes two bytes and one column.
printf '%-6s %-12s %3s %9s %6s %6s %9s %8s %8s %9s %5s %8s\n' server request K 'req/s' lost errors 'CPU µs' \
  'p50 µs' 'p99 µs' 'max µs' vb 'UPS gap'
while read -r line; do
  server=${line%% *}
  op=$(field "$line" op)
  version=v$(field "$line" version)
  answered=$(field "$line" answered)
  case $op in get) name="GET $version" ;; next) name="GET-NEXT $version" ;; *) name="GetBulk $version" ;; esac
  [[ $server == echo1 ]] && name="echo 1-by-1"
  [[ $server == echoN ]] && name="echo batched"
  gap=""
  [[ $server == pvx ]] && gap=$(poll_gap "$(field "$line" start)" "$(field "$line" end)")
  if ((answered == 0)); then
    printf '%-6s %-12s %3s %9s %6s %6s %8s %7s %7s %8s %5s %8s\n' "$server" "$name" "$(field "$line" k)" \
      'no answer' "$(field "$line" lost)" - - - - - - "$gap"
    continue
  fi
  printf '%-6s %-12s %3s %9s %6s %6s %8s %7s %7s %8s %5s %8s\n' "$server" "$name" "$(field "$line" k)" \
    "$(field "$line" rps)" "$(field "$line" lost)" "$(field "$line" errors)" \
    "$(awk -v ns="$(field "$line" cpu_ns)" -v n="$answered" 'BEGIN { printf "%.1f", ns / 1000 / n }')" \
    "$(field "$line" p50_us)" "$(field "$line" p99_us)" "$(field "$line" max_us)" \
    "$(awk -v b="$(field "$line" bindings)" -v n="$answered" 'BEGIN { printf "%.1f", b / n }')" "$gap"
done <"$run/results"

# cpu_per <server> <op> <k>: CPU µs per answered request; rps_of likewise.
cpu_per() {
  awk -v s="$1" -v op="$2" -v k="$3" '$1 == s { f = ""; for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if (v["op"] == op && v["k"] == k && v["answered"] > 0) printf "%.3f", v["cpu_ns"] / 1000 / v["answered"] }' "$run/results"
}
rps_of() {
  awk -v s="$1" -v op="$2" -v k="$3" '$1 == s { for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if (v["op"] == op && v["k"] == k) print v["rps"] }' "$run/results"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b != "" && b > 0) printf "%.2f", a / b; else print "-" }'; }
echo
echo "Ratios for GET: CPU per request pvx/snmpd and pvx/floor; requests a second pvx/snmpd"
printf '%3s %12s %16s %17s %14s\n' K 'pvx/snmpd' 'pvx/echo 1-by-1' 'pvx/echo batched' 'req/s pvx/snmpd'
for k in 1 8 64; do
  pvx_cpu=$(cpu_per pvx get "$k")
  printf '%3s %12s %16s %17s %14s\n' "$k" "$(ratio "$pvx_cpu" "$(cpu_per snmpd get "$k")")" \
    "$(ratio "$pvx_cpu" "$(cpu_per echo1 get "$k")")" "$(ratio "$pvx_cpu" "$(cpu_per echoN get "$k")")" \
    "$(ratio "$(rps_of pvx get "$k")" "$(rps_of snmpd get "$k")")"
done

echo
echo "A manager's GET at K=1 from 127.0.0.3 while 127.0.0.2 floods with GETs at K=64"
printf '%-6s %12s %14s %6s %8s %8s %9s %8s\n' server 'flood req/s' 'manager req/s' lost 'p50 µs' 'p99 µs' \
  'max µs' 'UPS gap'
for server in pvx snmpd; do
  flood=$(cat "$run/flood.$server")
  manager=$(head -1 "$run/manager.$server")
  times=$(tail -1 "$run/manager.$server")
  gap=""
  [[ $server == pvx ]] && gap=$(poll_gap "$(field " $times" start)" "$(field " $times" end)")
  if (($(field "$manager" answered) == 0)); then
    printf '%-6s %12s %14s %6s %7s %7s %8s %8s\n' "$server" "$(field "$flood" rps)" 'no answer' \
      "$(field "$manager" lost)" - - - "$gap"
  else
    printf '%-6s %12s %14s %6s %7s %7s %8s %8s\n' "$server" "$(field "$flood" rps)" "$(field "$manager" rps)" \
      "$(field "$manager" lost)" "$(field "$manager" p50_us)" "$(field "$manager" p99_us)" \
      "$(field "$manager" max_us)" "$gap"
  fi
done

echo
echo "One GET sent again and again at K=1: SNMPv1 against SNMPv3 authPriv (HMAC-SHA-96, AES-128)"
printf '%-6s %-15s %6s %9s %6s %6s %8s\n' server request bytes 'req/s' lost errors 'CPU µs'
while read -r line; do
  answered=$(field "$line" answered)
  if [[ $(field "$line" version) == 1 ]]; then name="GET v1"; else name="GET v3 authPriv"; fi
  printf '%-6s %-15s %6s %9s %6s %6s %7s\n' "${line%% *}" "$name" "$(field "$line" bytes)" \
    "$(awk -v n="$answered" -v s="$run_seconds" 'BEGIN { printf "%.0f", n / s }')" "$(field "$line" lost)" \
    "$(field "$line" errors)" \
    "$(awk -v ns="$(field "$line" cpu_ns)" -v n="$answered" 'BEGIN { if (n > 0) printf "%.1f", ns / 1000 / n; else print "-" }')"
done <"$run/v3"

echo
echo "Idle for $idle_seconds s (pvx polling its UPS)"
printf '%-6s %10s  %s\n' server 'CPU share' 'private memory'
awk -v ns="$pvx_idle" -v s="$idle_seconds" -v kb="$pvx_memory" \
  'BEGIN { printf "%-6s %9.3f%%  %s\n", "pvx", ns / (s * 1e9) * 100, kb }'
awk -v ns="$snmpd_idle" -v s="$idle_seconds" -v kb="$snmpd_memory" \
  'BEGIN { printf "%-6s %9.3f%%  %s\n", "snmpd", ns / (s * 1e9) * 100, kb }'

echo
{
  read -r relay_answered relay_busy relay_lost relay_seconds relay_longest
  read -r burst_answered burst_busy burst_lost
} <"$run/relay"
echo "The relay: 15 identification requests one after another, each with a 3 s time-out, then 15 at once"
echo "one after another: answered $relay_answered, told busy $relay_busy, lost $relay_lost, in $relay_seconds s;" \
  "slowest reply $relay_longest ms"
echo "at once: answered $burst_answered, told busy $burst_busy, lost $burst_lost within 3 s;" \
  "UPS gap $(poll_gap "$relay_start" "$relay_end" 31)"

echo
for server in pvx snmpd; do
  grep -h "^$server " "$run/results" "$run/flood.$server" "$run/manager.$server" |
    awk -v server="$server" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "answered") n += kv[2];
      if (kv[1] == "trailing") t += kv[2] } }
      END { printf "%s: %d of %d replies carried bytes after the end of the message\n", server, t, n }'
done
awk -v from="$(head -1 "$run/results" | sed -n 's/.* start=\([^ ]*\).*/\1/p')" -v to="$idle_end" '
  $1 >= from && $1 <= to { if (n > 0) { gap = $1 - last; sum += gap; if (gap > max) max = gap } last = $1; n++ }
  END { if (n > 1) printf "UPS polls from the first run to the end of the idle time: %d, gap mean %.2f s, longest %.2f s\n",
          n, sum / (n - 1), max }' "$run/pvx/polls"
