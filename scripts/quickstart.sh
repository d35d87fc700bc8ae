#!/usr/bin/env bash
# Builds pvx, starts the simulated UPS on a pseudo-terminal and pvx against it
# with the shipped sample's settings (packaging/pvx.ini: the responsive loop,
# SNMPv2c, RFC 1628's names), on local ports: SNMP on 127.0.0.1:16161, the
# XCP relay on 17010 and HTTP on 18080. Then it shows a walk of the UPS-MIB
# with the objects' names, a few lines of /metrics, the status page's URL and
# how to switch the simulated UPS to battery. Both programs keep running until
# you stop them with the command printed at the end.
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

# The shipped sample with the device and local ports: each key is changed in
# its own section (a key missing there would be read from a later one).
set_key() {
  awk -v s="$1" -v k="$2" -v v="$3" '
    /^\[/ { inside = tolower(substr($0, 1, length(s) + 2)) == "[" tolower(s) "]" }
    inside && tolower(substr($0, 1, length(k) + 1)) == tolower(k) "=" { print k "=" v; next }
    { print }' "$run/pvx.ini" >"$run/pvx.ini.new"
  mv "$run/pvx.ini.new" "$run/pvx.ini"
}
cp packaging/pvx.ini "$run/pvx.ini"
set_key Communications CommunicationsPort "$run/ups"
set_key SNMP AgentPort 16161
set_key SNMP TrapHost 127.0.0.1
set_key SNMP ManagerPort 16162
set_key Network SourceAddress 127.0.0.1
set_key NetXCP AgentPort 17010
set_key HTTP Enabled 1
set_key HTTP Port 18080
set_key UPSIdent Name 'Quick start UPS'

# Started by name, not by path, so that pvx skips its two-minute start-up pause.
(cd "$run" && exec -a pvx "$top/build/pvx" -c "$run/pvx.ini" >"$run/pvx.log" 2>&1) &
echo $! >>"$run/pids"
for _ in $(seq 100); do grep -q "UPS found" "$run/pvx.log" 2>/dev/null && break; sleep 0.1; done
cat "$run/pvx.log"
# Identification goes on for a few seconds after the UPS is found; polling
# has begun once the simulator logs the first full round of meter blocks.
for _ in $(seq 150); do grep -q '^rx 32' "$run/frames.log" 2>/dev/null && break; sleep 0.1; done

# Debian's snmp package has no UPS-MIB (the IETF's MIB files are in the
# non-free snmp-mibs-downloader), so the walk is labelled with the names of
# pvx's own object reference, docs/mib-reference.md, in RFC 1628's naming.
label() {
  awk -F'|' '
    NR == FNR {
      if ($2 !~ /`1\.3\.6/) next
      name = $3; gsub(/ /, "", name)
      n = split($2, forms, "<br>"); form = forms[n]; gsub(/[` ]/, "", form)
      if (form ~ /<(row|id)>$/) { sub(/<(row|id)>$/, "", form); prefix[form] = name } else exact[form] = name
      next
    }
    {
      oid = $0; sub(/ = .*/, "", oid); sub(/^\./, "", oid); rest = substr($0, length(oid) + 2)
      if (oid in exact) { print exact[oid] ".0" rest; next }
      for (p in prefix) if (index(oid, p) == 1) { print prefix[p] "." substr(oid, length(p) + 1) rest; next }
      print
    }' docs/mib-reference.md -
}

echo
echo "# The UPS-MIB, walked with GetBulk in SNMPv2c at the tools' defaults:"
echo "\$ snmpbulkwalk -v2c -c gavrel -On 127.0.0.1:16161 1.3.6.1.2.1.33"
snmpbulkwalk -v2c -c gavrel -On 127.0.0.1:16161 1.3.6.1.2.1.33 | label
echo
echo "# A few lines of the Prometheus metrics:"
echo "\$ curl -s http://127.0.0.1:18080/metrics"
curl -s http://127.0.0.1:18080/metrics |
  grep -E '^pvx_ups_(connected|output_source|battery_charge_ratio|battery_runtime_seconds|input_volts)' | head -n 12
cat <<TEXT

The status page: http://127.0.0.1:18080/ (it refreshes itself every 10 s).

Switch the simulated UPS to battery and watch the page (and the metrics) change:
  python3 -c 'import socket; s=socket.socket(socket.AF_UNIX); s.connect("$run/control"); s.sendall(b"set onbattery 1\n"); print(s.recv(999).decode())'
  curl -s http://127.0.0.1:18080/metrics | grep output_source
and back with "set onbattery 0".

More to try:
  snmpwalk -v1 -c gavrel 127.0.0.1:16161 1.3.6.1.4.1.534.1                  # the vendor subtree
  snmpset -v2c -c sotwick 127.0.0.1:16161 1.3.6.1.2.1.33.1.1.5.0 s "Rack 4"  # the UPS's name
  snmptrapd -f -Lo -C --disableAuthorization=yes udp:127.0.0.1:16162        # traps
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.settimeout(3); s.sendto(bytes([0xAB,1,0,0x54]), ("127.0.0.1", 17010)); print(s.recv(64))'
  tail -f $run/frames.log                                                   # the XCP traffic

Stop both:  kill \$(cat $run/pids)
TEXT
