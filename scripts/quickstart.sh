#!/usr/bin/env bash
# Builds pvx, starts the simulated UPS on a pseudo-terminal and pvx against it,
# with the SNMP agent on 127.0.0.1:16161 and the XCP relay on 127.0.0.1:17010,
# then shows a few queries. Both programs keep running until you stop them
# with the command printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build pvx pvx-upssim pvx-passwd >/dev/null

run=/tmp/pvx-quickstart
mkdir -p "$run"
if [[ -f $run/pids ]]; then kill $(cat "$run/pids") 2>/dev/null || true; sleep 1; fi
rm -f "$run"/*.log "$run/ups" "$run/pids"

build/pvx-upssim -l "$run/ups" -s "$run/control" -q -f "$run/frames.log" >"$run/upssim.log" 2>&1 &
echo $! >"$run/pids"
for _ in $(seq 50); do [[ -e $run/ups ]] && break; sleep 0.1; done

cat >"$run/pvx.ini" <<INI
[Communications]
CommunicationsPort=$run/ups
[SNMP]
Enabled=1
AgentPort=16161
TrapHost=localhost
ManagerPort=16162
[Network]
ResponsiveLoop=1
[NetXCP]
AgentPort=17010
[UPSIdent]
Name=Quick start UPS
INI

# Started by name, not by path, so that pvx skips its two-minute start-up pause.
(cd "$run" && exec -a pvx "$top/build/pvx" -c "$run/pvx.ini" >"$run/pvx.log" 2>&1) &
echo $! >>"$run/pids"
for _ in $(seq 100); do grep -q "UPS found" "$run/pvx.log" 2>/dev/null && break; sleep 0.1; done
cat "$run/pvx.log"
# Identification goes on for a few seconds after the UPS is found; polling
# has begun once the simulator logs the first full round of meter blocks.
for _ in $(seq 150); do grep -q '^rx 32' "$run/frames.log" 2>/dev/null && break; sleep 0.1; done

echo
echo "# With ResponsiveLoop=1 pvx answers each request as it arrives, so the SNMP tools'"
echo "# defaults do. Without it pvx serves one request per pass of its loop (about two"
echo "# seconds with a UPS attached): then give the tools a time-out of 5 s (-t 5)."
set -x
snmpget -v1 -c gavrel 127.0.0.1:16161 \
  1.3.6.1.2.1.33.1.1.1.0 1.3.6.1.2.1.33.1.1.2.0 1.3.6.1.2.1.33.1.1.5.0 \
  1.3.6.1.2.1.33.1.2.1.0 1.3.6.1.2.1.33.1.3.3.1.3.0 1.3.6.1.2.1.33.1.4.4.1.2.0 || true
set +x
cat <<TEXT

More to try:
  snmpwalk -v1 -c gavrel 127.0.0.1:16161 1.3.6.1.2.1.33                     # the UPS-MIB
  snmpwalk -v1 -c gavrel 127.0.0.1:16161 1.3.6.1.4.1.534.1                  # the vendor subtree
  snmpset  -v1 -c sotwick 127.0.0.1:16161 1.3.6.1.2.1.33.1.1.5.0 s "Rack 4"
  snmptrapd -f -Lo -C --disableAuthorization=yes udp:127.0.0.1:16162        # traps
  python3 -c 'import socket; s=socket.socket(socket.AF_UNIX); s.connect("$run/control"); s.sendall(b"set onbattery 1\n"); print(s.recv(999).decode())'
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(3); s.sendto(bytes([0xAB,1,0,0x54]), ("127.0.0.1", 17010)); print(s.recv(64))'
  tail -f $run/frames.log                                                   # the XCP traffic

Stop both:  kill \$(cat $run/pids)
TEXT
