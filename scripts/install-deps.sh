#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing pvx need, when missing.
set -euo pipefail

packages=(g++ cmake ninja-build libssl-dev libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd clang libclang-rt-14-dev
          procps time
          snmpd  # scripts/bench-snmp.sh starts its own; the system service is kept stopped and disabled
          nut-snmp  # tests/e2e/StandardManagersTest: the SNMP driver of Network UPS Tools
          libmicrohttpd-dev pkg-config prometheus chromium  # the HTTP server; promtool and a browser for its tests
          dpkg-dev man-db groff-base systemd)  # scripts/package-check.sh: package dependencies, manual pages, unit check
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A system snmpd started by the package would hold UDP port 161 on every
  # interface: a policy-rc.d of our own keeps it from starting while the
  # packages install, and it is disabled afterwards. An snmpd installed
  # before is left as it is.
  new_snmpd=0
  policy=/usr/sbin/policy-rc.d
  if [[ " ${missing[*]} " == *" snmpd "* ]]; then
    new_snmpd=1
    if [[ ! -e $policy ]]; then
      printf '#!/bin/sh\nexit 101\n' >"$policy"
      chmod 755 "$policy"
      trap 'rm -f "$policy"' EXIT
    fi
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  if ((new_snmpd)); then
    if [[ -d /run/systemd/system ]]; then
      systemctl disable --now snmpd >/dev/null 2>&1 || true
    elif command -v systemctl >/dev/null; then
      systemctl disable snmpd >/dev/null 2>&1 || true
    fi
    command -v update-rc.d >/dev/null && { update-rc.d snmpd disable >/dev/null 2>&1 || true; }
  fi
fi
