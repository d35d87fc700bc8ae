#!/usr/bin/env bash
# Builds the Debian package and checks it: its file list, conffiles and
# dependencies, and lintian (no errors, no warnings). Run as root on Debian,
# it then installs it for real over a stand-in for the old /opt/pvx package
# whose pvx.ini was changed, and checks the installed system: the changed
# values in /etc/pvx/pvx.ini, the account pvx, the owners and modes, the unit
# (systemd-analyze verify and its security exposure), the manual pages, and
# pvx itself run as pvx against the simulated UPS, read over SNMP and HTTP.
# Finally the package is removed (its conffiles stay) and purged, and nothing
# of pvx may be left. Systemd need not be running (no unit is started).
#
# Usage: scripts/package-check.sh [build folder]
#   The build folder defaults to "build-release", the Release build without
#   tests that scripts/test.sh makes last: after it, nothing is built again.
#   PVX_JOBS sets the build's parallel jobs (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build-release}
[[ $build = /* ]] || build=$top/$build
started=$SECONDS

fail() {
  echo "package-check: FAILED: $*" >&2
  exit 1
}
say() { echo "package-check: $*"; }

# --- The package ------------------------------------------------------------

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVX_TESTS=OFF >/dev/null
cmake --build "$build" -j "${PVX_JOBS:-$(nproc)}" >/dev/null
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
sbin=$(cache PVX_SBIN_DIR) etc=$(cache PVX_CONFIG_DIR) data=$(cache PVX_DATA_DIR)
state=$(cache PVX_STATE_DIR) rundir=$(cache PVX_RUN_DIR)

rm -f "$build"/pvx_*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
debs=("$build"/pvx_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single pvx_*.deb in $build"
deb=${debs[0]}
say "$(basename "$deb"), $(stat -c %s "$deb") bytes, built after $((SECONDS - started)) s"

# Files, not folders, with their mode letters: "x" for executables.
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6, ($1 ~ /x/ ? "x" : "-") }' | sort)
expected=$(
  {
    printf '%s x\n' "$sbin/pvx" /usr/bin/pvx-upssim /usr/bin/pvx-passwd /usr/bin/pvx-msgc
    printf '%s -\n' "$data/messages" "$etc/pvx.ini" "$etc/DummyUPS.ini" /usr/lib/systemd/system/pvx.service \
      /usr/share/doc/pvx/README.md /usr/share/doc/pvx/copyright /usr/share/doc/pvx/changelog.Debian.gz \
      /usr/share/doc/pvx/examples/upssim.conf /usr/share/doc/pvx/examples/pvx.ini \
      /usr/share/polkit-1/rules.d/50-pvx-poweroff.rules
    for page in docs/*.[158]; do echo "/usr/share/man/man${page##*.}/$(basename "$page").gz -"; done
    for document in docs/*.md; do echo "/usr/share/doc/pvx/$(basename "$document") -"; done
  } | sort -u
)
if [[ $actual != "$expected" ]]; then
  echo "package-check: the package's files differ from the expected list (< missing, > unexpected):" >&2
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' >&2 || true
  exit 1
fi
conffiles=$(dpkg-deb -I "$deb" conffiles)
[[ $conffiles = "$etc/pvx.ini"$'\n'"$etc/DummyUPS.ini" ]] || fail "conffiles are not pvx.ini and DummyUPS.ini: $conffiles"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgcc-s1 libssl3 libmicrohttpd12 libsystemd0 adduser; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
description=$(dpkg-deb -f "$deb" Description)
[[ $description == *"(v1; v2c and v3"* ]] || fail "the description lost its punctuation: $description"
say "file list, conffiles and Depends ($depends) as expected"

command -v lintian >/dev/null || fail "lintian is missing (scripts/install-deps.sh installs it)"
lint=$(lintian "$deb" 2>&1 | grep -v '^running with root privileges' || true)
errors=$(grep -c '^E: ' <<<"$lint" || true)
warnings=$(grep -c '^W: ' <<<"$lint" || true)
[[ -z $lint ]] || echo "$lint"
say "lintian $(lintian --version | awk '{print $2}'): $errors errors, $warnings warnings"
((errors == 0 && warnings == 0)) || fail "lintian reports errors or warnings"

if [[ $(id -u) -ne 0 || ! -f /etc/debian_version ]]; then
  say "not root on Debian: installation checks skipped ($((SECONDS - started)) s)"
  exit 0
fi

# --- Installed over the old layout ---------------------------------------------

for tool in snmpget snmpset snmpbulkwalk curl man systemd-analyze setpriv; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
if dpkg-query -W -f='${Status}' pvx 2>/dev/null | grep -q 'install ok installed'; then
  fail "pvx is installed already; remove it first (apt-get purge pvx)"
fi
getent passwd pvx >/dev/null && fail "a user pvx exists already"

run=$(mktemp -d /tmp/pvx-package-check.XXXXXX)
chmod 755 "$run"
pids=()
installed=0
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if ((installed)); then apt-get purge -y -qq pvx >/dev/null 2>&1 || true; fi
  rm -rf "$run"
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
apt_get() { # apt-get with its output kept for a failure
  apt-get -y -qq -o Dpkg::Options::=--path-include='/usr/share/man/*' \
    -o Dpkg::Options::=--path-include='/usr/share/doc/pvx/*' "$@" >"$run/apt.log" 2>&1 ||
    { cat "$run/apt.log" >&2; fail "apt-get $*"; }
}

# A stand-in for the package of the /opt/pvx layout (1.1.3): the same paths,
# the same conffiles and the same maintainer scripts, a root unit.
old=$run/old
mkdir -p "$old/DEBIAN" "$old/opt/pvx" "$old/usr/lib/systemd/system"
cp "$build/pvx" "$old/opt/pvx/pvx"
cp "$build/messages" packaging/DummyUPS.ini "$old/opt/pvx/"
sed '/^\[Service\]/,$d' packaging/pvx.ini >"$old/opt/pvx/pvx.ini" # before the reload key
printf '[Service]\nType=exec\nExecStart=/opt/pvx/pvx\nWorkingDirectory=/opt/pvx\nUser=root\n' \
  >"$old/usr/lib/systemd/system/pvx.service"
cat >"$old/DEBIAN/control" <<EOF
Package: pvx
Version: 1.1.3
Architecture: $(dpkg --print-architecture)
Maintainer: pvx maintainers <maintainers@pvx.invalid>
Section: admin
Priority: optional
Description: UPS on a serial port served over SNMPv1, a UDP XCP relay and HTTP
 The package of the /opt/pvx layout, as a stand-in for upgrades.
EOF
printf '/opt/pvx/pvx.ini\n/opt/pvx/DummyUPS.ini\n' >"$old/DEBIAN/conffiles"
printf '#!/bin/sh\nset -e\nif [ "$1" = configure ] && [ -d /run/systemd/system ]; then\n  systemctl daemon-reload || true\n  systemctl try-restart pvx.service || true\nfi\nexit 0\n' \
  >"$old/DEBIAN/postinst"
printf '#!/bin/sh\nset -e\nif [ "$1" = remove ] && [ -d /run/systemd/system ]; then\n  systemctl stop pvx.service || true\nfi\nexit 0\n' \
  >"$old/DEBIAN/prerm"
printf '#!/bin/sh\nset -e\nif [ "$1" = purge ]; then\n  rm -f /etc/systemd/system/multi-user.target.wants/pvx.service /var/pvx.status\nfi\nexit 0\n' \
  >"$old/DEBIAN/postrm"
chmod 755 "$old/DEBIAN/postinst" "$old/DEBIAN/prerm" "$old/DEBIAN/postrm"
dpkg-deb --root-owner-group --build "$old" "$run/pvx_1.1.3_old.deb" >/dev/null
apt_get install "$run/pvx_1.1.3_old.deb"
installed=1

# Section-aware edit of a key line: the reader would take a key missing from
# its section from a later one.
set_key() {
  local file=$1 section=$2 key=$3 value=$4
  awk -v s="$section" -v k="$key" -v v="$value" '
    /^\[/ { inside = tolower(substr($0, 1, length(s) + 2)) == "[" tolower(s) "]" }
    inside && tolower(substr($0, 1, length(k) + 1)) == tolower(k) "=" { print k "=" v; n++; next }
    { print }
    END { exit n == 1 ? 0 : 1 }' "$file" >"$file.new" || fail "$section/$key is not once in $file"
  cat "$file.new" >"$file" # in place: owner and mode stay
  rm -f "$file.new"
}
get_key() {
  awk -v s="$2" -v k="$3" '
    /^\[/ { inside = tolower(substr($0, 1, length(s) + 2)) == "[" tolower(s) "]" }
    inside && tolower(substr($0, 1, length(k) + 1)) == tolower(k) "=" { print substr($0, length(k) + 2); exit }' "$1"
}
set_key /opt/pvx/pvx.ini SNMP GetCommunity kept-across-the-upgrade
set_key /opt/pvx/pvx.ini UPSIdent Name 'Rack 7, changed under /opt'
printf 'EngineID=80000216050102030405060708\nEngineBoots=7\n' >/opt/pvx/pvx-engine.state

apt_get install "$deb"
say "upgraded $(dpkg-query -W -f='${Version}' pvx) over the /opt/pvx stand-in 1.1.3"
[[ $(get_key "$etc/pvx.ini" SNMP GetCommunity) = kept-across-the-upgrade ]] ||
  fail "the changed SNMP/GetCommunity did not reach $etc/pvx.ini"
[[ $(get_key "$etc/pvx.ini" UPSIdent Name) = 'Rack 7, changed under /opt' ]] ||
  fail "the changed UPSIdent/Name did not reach $etc/pvx.ini"
cmp -s "$etc/pvx.ini.dpkg-new" packaging/pvx.ini || fail "the new sample is not kept as $etc/pvx.ini.dpkg-new"
[[ ! -e /opt/pvx ]] || fail "/opt/pvx is still there: $(ls -A /opt/pvx)"
grep -qx 'EngineID=80000216050102030405060708' "$state/pvx-engine.state" ||
  fail "the SNMPv3 engine state did not move to $state"
say "the changed pvx.ini is $etc/pvx.ini (the new sample beside it as .dpkg-new), the engine state in $state"

# --- The account, owners and modes ----------------------------------------------

IFS=: read -r _ _ uid _ _ home shell < <(getent passwd pvx) || fail "no user pvx"
((uid < 1000)) || fail "pvx is no system user (uid $uid)"
[[ $home = "$state" && $shell = /usr/sbin/nologin ]] || fail "pvx has home $home and shell $shell"
[[ " $(id -nG pvx) " == *" pvx "* && " $(id -nG pvx) " == *" dialout "* ]] || fail "pvx is in $(id -nG pvx)"
owner_mode() {
  [[ $(stat -c '%U:%G %a' "$1") = "$2" ]] || fail "$1 is $(stat -c '%U:%G %a' "$1"), not $2"
}
owner_mode "$etc" "root:pvx 750"
owner_mode "$etc/pvx.ini" "pvx:pvx 640"
owner_mode "$etc/DummyUPS.ini" "pvx:pvx 640"
owner_mode "$state" "pvx:pvx 750"
owner_mode "$state/pvx-engine.state" "pvx:pvx 640"
if setpriv --reuid=nobody --regid=nogroup --clear-groups cat "$etc/pvx.ini" >/dev/null 2>&1; then
  fail "another user can read $etc/pvx.ini"
fi
say "user pvx (uid $uid, groups $(id -nG pvx)); $etc root:pvx 750, pvx.ini pvx:pvx 640, $state pvx:pvx 750"

unit=/usr/lib/systemd/system/pvx.service
verify=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify $unit: $verify"
[[ -z $verify ]] || fail "systemd-analyze verify $unit warns: $verify"
exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for pvx.service: \([0-9.]*\).*/\1/p')
[[ -n $exposure ]] || fail "systemd-analyze security printed no exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' || fail "the unit's exposure is $exposure, above 4.0"
say "systemd-analyze verify passes; security exposure $exposure"

while read -r page; do
  name=$(basename "$page" .gz)
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings "${name##*.}" "${name%.*}" 2>&1 >/dev/null) ||
    fail "man ${name##*.} ${name%.*} failed: $warnings"
  [[ -z $warnings ]] || fail "man ${name##*.} ${name%.*} warns: $warnings"
done < <(dpkg -L pvx | grep '^/usr/share/man/man[0-9]/.*\.gz$')
say "manual pages render without warnings"

# --- pvx run as pvx against the simulated UPS -------------------------------------

udp_port_free() {
  ! awk -v p="$(printf '%04X' "$1")" 'FNR > 1 { split($2, a, ":"); if (a[2] == p) found = 1 } END { exit !found }' \
    /proc/net/udp /proc/net/udp6 2>/dev/null
}
free_port() {
  local port
  for _ in $(seq 200); do
    port=$((20000 + RANDOM % 40000))
    if udp_port_free "$port" && ! ss -Htln "sport = :$port" 2>/dev/null | grep -q .; then
      echo "$port"
      return
    fi
  done
  fail "no free port"
}
install -d -o pvx -g pvx "$run/ups" "$rundir" # systemd makes the run folder for the unit
runuser -u pvx -- /usr/bin/pvx-upssim -q -l "$run/ups/tty" -s "$run/ups/control" >"$run/upssim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -e $run/ups/tty && -S $run/ups/control ]] && break; sleep 0.1; done
[[ -S $run/ups/control ]] || fail "pvx-upssim did not start: $(cat "$run/upssim.log")"
# Port 161 itself when it is free: the one capability is what binds it.
snmp_port=161
udp_port_free 161 || snmp_port=$(free_port)
http_port=$(free_port) relay_port=$(free_port)
set_key "$etc/pvx.ini" Communications CommunicationsPort "$run/ups/tty"
set_key "$etc/pvx.ini" SNMP AgentPort "$snmp_port"
set_key "$etc/pvx.ini" NetXCP AgentPort "$relay_port"
set_key "$etc/pvx.ini" Network SourceAddress 127.0.0.1
set_key "$etc/pvx.ini" HTTP Enabled 1
set_key "$etc/pvx.ini" HTTP Port "$http_port"
set_key "$etc/pvx.ini" SNMPv3 Enabled 1
setpriv --reuid=pvx --regid=pvx --init-groups --inh-caps=-all,+net_bind_service \
  --ambient-caps=-all,+net_bind_service --bounding-set=-all,+net_bind_service \
  "$sbin/pvx" -s >"$run/pvx.out" 2>"$run/pvx.err" &
pvx_pid=$!
pids+=("$pvx_pid")
for _ in $(seq 300); do grep -q 'UPS found is \[' "$run/pvx.out" && break; sleep 0.1; done
grep -q 'UPS found is \[' "$run/pvx.out" || fail "pvx found no UPS: $(cat "$run/pvx.out" "$run/pvx.err")"
[[ $(stat -c %U "/proc/$pvx_pid") = pvx ]] || fail "pvx does not run as pvx"
grep -q 'SNMPv3 engine ID 80000216050102030405060708, boots 8' "$run/pvx.err" ||
  fail "pvx did not carry on the old engine: $(cat "$run/pvx.err")"
target=127.0.0.1:$snmp_port
walk=$(snmpbulkwalk -v2c -c kept-across-the-upgrade -On "$target" 1.3.6.1.2.1.33.1.1 2>&1) || fail "snmpbulkwalk: $walk"
[[ $walk == *".1.3.6.1.2.1.33.1.1.5.0 = STRING: \"Rack 7, changed under /opt\""* ]] ||
  fail "the walk does not show the kept name: $walk"
snmpset -v2c -c sotwick "$target" 1.3.6.1.2.1.33.1.1.5.0 s 'Set over SNMP' >/dev/null || fail "snmpset failed"
[[ $(get_key "$etc/pvx.ini" UPSIdent Name) = 'Set over SNMP' ]] || fail "pvx did not write the name to $etc/pvx.ini"
owner_mode "$etc/pvx.ini" "pvx:pvx 640"
page=$(curl -sS -m 5 "http://127.0.0.1:$http_port/") || fail "no status page"
[[ $page == *"Set over SNMP"* ]] || fail "the status page does not show the UPS: $page"
curl -sS -m 5 "http://127.0.0.1:$http_port/metrics" | grep -q '^pvx_ups_connected 1$' || fail "no metrics"
grep -qx 'Tessary started successfully.' "$rundir/pvx.status" || fail "no status file in $rundir"
say "pvx -s as pvx: SNMP on $target (walk, set), the page and /metrics on port $http_port, $rundir/pvx.status"
kill "$pvx_pid"
for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
pids=()

# --- Remove and purge -------------------------------------------------------------

apt_get remove pvx
[[ ! -e $sbin/pvx && -f $etc/pvx.ini ]] || fail "after removal $sbin/pvx should be gone and pvx.ini kept"
apt_get purge pvx
installed=0
left=()
for path in "$etc" "$state" "$rundir" "$data" /opt/pvx /usr/share/doc/pvx "$sbin/pvx" /var/pvx.status \
  /usr/lib/systemd/system/pvx.service; do
  [[ -e $path ]] && left+=("$path")
done
((${#left[@]} == 0)) || fail "after purge these are left: ${left[*]}"
getent passwd pvx >/dev/null && fail "after purge the user pvx is left"
getent group pvx >/dev/null && fail "after purge the group pvx is left"
dpkg-statoverride --list | grep -q pvx && fail "after purge a statoverride is left: $(dpkg-statoverride --list | grep pvx)"
say "removed (conffiles kept) and purged: nothing of pvx is left"
say "done in $((SECONDS - started)) s"
