#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: its file list
# (nothing missing, nothing extra such as a test program), its conffiles and
# its dependencies. Run as root on Debian, it then installs the package for
# real and checks the installed system: the unit passes systemd-analyze
# verify, the manual pages render without warnings, the installed pvx serves
# SNMP against the simulated UPS, and pvx started by its path waits two
# minutes and then finds its message catalog beside itself. Finally the
# package is removed (its conffiles stay) and purged.
#
# Usage: scripts/package-check.sh [build folder]
#   The build folder defaults to "build", as scripts/test.sh configures it;
#   it is configured and built here when needed.
#   PVX_CHECK_PAUSE=0 skips the start by path and its two-minute wait.
#   PVX_JOBS sets the build's parallel jobs (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
build=${1:-build}
[[ $build = /* ]] || build=$top/$build

fail() {
  echo "package-check: $*" >&2
  exit 1
}

# --- The package ------------------------------------------------------------

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "${PVX_JOBS:-$(nproc)}" >/dev/null
home=$(sed -n 's/^PVX_HOME:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $home = /* ]] || fail "no absolute PVX_HOME in $build/CMakeCache.txt"

rm -f "$build"/pvx_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/pvx_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single pvx_*.deb in $build"
deb=${debs[0]}
echo "package-check: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Files, not folders, with their mode letters: "x" for executables.
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6, ($1 ~ /x/ ? "x" : "-") }' | sort)
expected=$(
  {
    printf '%s x\n' "$home/pvx" /usr/bin/pvx-upssim /usr/bin/pvx-passwd /usr/bin/pvx-msgc
    printf '%s -\n' "$home/messages" "$home/pvx.ini" "$home/DummyUPS.ini" \
      /usr/lib/systemd/system/pvx.service \
      /usr/share/man/man8/pvx.8 /usr/share/man/man5/pvx.ini.5 /usr/share/man/man1/pvx-upssim.1 \
      /usr/share/man/man1/pvx-passwd.1 /usr/share/man/man1/pvx-msgc.1 \
      /usr/share/doc/pvx/README.md /usr/share/doc/pvx/mib-reference.md /usr/share/doc/pvx/pvx-upssim.md \
      /usr/share/doc/pvx/examples/upssim.conf
    # Pages and documents added to docs/ later belong in the package too.
    for page in docs/*.[158]; do
      if [[ -e $page ]]; then echo "/usr/share/man/man${page##*.}/$(basename "$page") -"; fi
    done
    for document in docs/*.md; do
      if [[ -e $document ]]; then echo "/usr/share/doc/pvx/$(basename "$document") -"; fi
    done
  } | sort -u
)
if [[ $actual != "$expected" ]]; then
  echo "package-check: the package's files differ from the expected list (< missing, > unexpected):" >&2
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' >&2 || true
  exit 1
fi

conffiles=$(dpkg-deb -I "$deb" conffiles)
[[ $conffiles = "$home/pvx.ini"$'\n'"$home/DummyUPS.ini" ]] || fail "conffiles are not pvx.ini and DummyUPS.ini: $conffiles"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libgcc-s1 libssl3 libmicrohttpd12; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
[[ $(dpkg-deb -f "$deb" Package) = pvx ]] || fail "the package is not named pvx"
echo "package-check: file list, conffiles and Depends ($depends) as expected"

if [[ $(id -u) -ne 0 || ! -f /etc/debian_version ]]; then
  echo "package-check: not root on Debian: installation checks skipped"
  exit 0
fi

# --- The installed package --------------------------------------------------

for tool in snmpget man systemd-analyze; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done
if dpkg-query -W -f='${Status}' pvx 2>/dev/null | grep -q 'install ok installed'; then
  fail "pvx is installed already; remove it first (apt-get purge pvx)"
fi

run=$(mktemp -d /tmp/pvx-package-check.XXXXXX)
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
# Minimal images may tell dpkg to leave out manual pages and documents.
apt-get install -y -qq -o Dpkg::Options::=--path-include='/usr/share/man/*' \
  -o Dpkg::Options::=--path-include='/usr/share/doc/pvx/*' "$deb" >"$run/apt.log" 2>&1 ||
  { cat "$run/apt.log" >&2; fail "apt-get install failed"; }
installed=1
echo "package-check: installed with apt-get"

# Section-aware edit of a key line in a copy of the installed sample: the
# reader would take a key missing from its section from a later one.
set_key() {
  local file=$1 section=$2 key=$3 value=$4
  awk -v s="$section" -v k="$key" -v v="$value" '
    /^\[/ { inside = tolower(substr($0, 1, length(s) + 2)) == "[" tolower(s) "]" }
    inside && tolower(substr($0, 1, length(k) + 1)) == tolower(k) "=" { print k "=" v; n++; next }
    { print }
    END { exit n == 1 ? 0 : 1 }' "$file" >"$file.new" || fail "$section/$key is not once in $file"
  mv "$file.new" "$file"
}
get_key() {
  awk -v s="$1" -v k="$2" '
    /^\[/ { inside = tolower(substr($0, 1, length(s) + 2)) == "[" tolower(s) "]" }
    inside && tolower(substr($0, 1, length(k) + 1)) == tolower(k) "=" { print substr($0, length(k) + 2); exit }' \
    "$home/pvx.ini"
}
udp_port_in_use() {
  awk -v p="$(printf '%04X' "$1")" 'FNR > 1 { split($2, a, ":"); if (a[2] == p) found = 1 } END { exit !found }' \
    /proc/net/udp /proc/net/udp6 2>/dev/null
}
free_udp_port() {
  local port
  for _ in $(seq 200); do
    port=$((20000 + RANDOM % 40000))
    if ! udp_port_in_use "$port" && [[ " $* " != *" $port "* ]]; then
      echo "$port"
      return
    fi
  done
  fail "no free UDP port"
}
start_simulator() { # folder: the simulated UPS's pseudo-terminal at folder/ups
  /usr/bin/pvx-upssim -q -l "$1/ups" -s "$1/control" >"$1/upssim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -e $1/ups && -S $1/control ]] && return; sleep 0.1; done
  fail "pvx-upssim did not start: $(cat "$1/upssim.log")"
}

# Started by its path, as the unit starts it, pvx reads the catalog beside
# itself after a two-minute pause. An event after the pause shows both: a
# relay password that is not in the stored form stops pvx at set-up with a
# text that only the catalog holds. This runs while the other checks do.
if [[ ${PVX_CHECK_PAUSE:-1} != 0 ]]; then
  mkdir "$run/path"
  start_simulator "$run/path"
  cp "$home/pvx.ini" "$run/path/pvx.ini"
  set_key "$run/path/pvx.ini" Communications CommunicationsPort "$run/path/ups"
  set_key "$run/path/pvx.ini" SNMP Enabled 0
  set_key "$run/path/pvx.ini" NetXCP Enabled 1 # the sample ships the relay off
  set_key "$run/path/pvx.ini" NetXCP AgentPort "$(free_udp_port)"
  set_key "$run/path/pvx.ini" Network Passwd not-a-stored-password
  path_started=$SECONDS
  (cd "$run/path" && exec "$home/pvx" -c "$run/path/pvx.ini" >"$run/path/pvx.out" 2>"$run/path/pvx.err") &
  path_pid=$!
  pids+=("$path_pid")
  echo "package-check: started $home/pvx by path (it waits two minutes)"
fi

cmp -s "$home/pvx.ini" packaging/pvx.ini || fail "installed pvx.ini differs from packaging/pvx.ini"
cmp -s "$home/messages" "$build/messages" || fail "installed catalog differs from $build/messages"
if [[ -x $build/tests/packaging/test_packaging ]]; then
  PVX_SAMPLE_DIR=$home "$build/tests/packaging/test_packaging" >"$run/sample-test.log" 2>&1 ||
    { cat "$run/sample-test.log" >&2; fail "the installed sample files do not read as intended"; }
  echo "package-check: installed sample files read as intended"
fi

unit=$(dpkg -L pvx | grep '/systemd/system/pvx.service$')
verify=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify $unit: $verify"
[[ -z $verify ]] || fail "systemd-analyze verify $unit warns: $verify"
echo "package-check: systemd-analyze verify $unit passes"

while read -r page; do
  name=$(basename "$page")
  section=${name##*.}
  name=${name%.*}
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings "$section" "$name" 2>&1 >/dev/null) ||
    fail "man $section $name failed: $warnings"
  [[ -z $warnings ]] || fail "man $section $name warns: $warnings"
  [[ $(man -w "$section" "$name") = "$page" ]] || fail "man $section $name is not $page"
done < <(dpkg -L pvx | grep '^/usr/share/man/man[0-9]/')
for name in pvx pvx.ini; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man "$name" 2>/dev/null | grep -q . || fail "man $name shows nothing"
done
echo "package-check: manual pages render without warnings"

# The installed pvx against the simulated UPS, started by name from its
# working folder so that it skips the pause.
mkdir "$run/name"
start_simulator "$run/name"
snmp_port=$(free_udp_port)
relay_port=$(free_udp_port "$snmp_port")
cp "$home/pvx.ini" "$run/name/pvx.ini"
set_key "$run/name/pvx.ini" Communications CommunicationsPort "$run/name/ups"
set_key "$run/name/pvx.ini" SNMP AgentPort "$snmp_port"
set_key "$run/name/pvx.ini" NetXCP AgentPort "$relay_port"
(cd "$run/name" && exec -a pvx "$home/pvx" -c "$run/name/pvx.ini" >"$run/name/pvx.out" 2>"$run/name/pvx.err") &
name_pid=$!
pids+=("$name_pid")
for _ in $(seq 300); do grep -q 'UPS found is \[' "$run/name/pvx.out" && break; sleep 0.1; done
grep -q 'UPS found is \[' "$run/name/pvx.out" ||
  fail "the installed pvx found no UPS: $(cat "$run/name/pvx.out" "$run/name/pvx.err")"
community=$(get_key SNMP GetCommunity)
answer=$(snmpget -v1 -c "$community" -t 5 -r 2 "127.0.0.1:$snmp_port" 1.3.6.1.2.1.33.1.1.1.0 2>&1) ||
  fail "snmpget got no answer: $answer"
[[ $answer == *"= STRING: "* ]] || fail "snmpget: unexpected answer: $answer"
echo "package-check: the installed pvx answers snmpget: $answer"
kill "$name_pid"

if [[ ${PVX_CHECK_PAUSE:-1} != 0 ]]; then
  text=$(sed -n 's/^0xC002003A //p' events/messages.txt)
  [[ -n $text ]] || fail "no catalog text for the password event in events/messages.txt"
  status=0
  wait "$path_pid" || status=$?
  elapsed=$((SECONDS - path_started))
  ((status == 255)) || fail "pvx started by path ended with status $status: $(cat "$run/path/pvx.err")"
  ((elapsed >= 119)) || fail "pvx started by path ended after $elapsed s, before its two-minute pause"
  grep -qxF "$text" "$run/path/pvx.err" ||
    fail "pvx started by path did not report the catalog's text: $(cat "$run/path/pvx.err")"
  echo "package-check: started by path, pvx waited ${elapsed} s and reported from its catalog: $text"
fi

for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
pids=()

apt-get remove -y -qq pvx >"$run/apt.log" 2>&1 || { cat "$run/apt.log" >&2; fail "apt-get remove failed"; }
[[ ! -e $home/pvx && -f $home/pvx.ini ]] || fail "after removal $home/pvx should be gone and pvx.ini kept"
apt-get purge -y -qq pvx >"$run/apt.log" 2>&1 || { cat "$run/apt.log" >&2; fail "apt-get purge failed"; }
installed=0
[[ ! -e $home ]] || fail "after purge $home is still there: $(ls -A "$home")"
echo "package-check: removed (conffiles kept) and purged"
