#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing pvx need, when missing.
set -euo pipefail

packages=(g++ cmake ninja-build libssl-dev libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd clang libclang-rt-14-dev
          procps time
          snmpd  # scripts/bench-snmp.sh starts its own; the system service is kept stopped and disabled
          nut-snmp  # tests/e2e/StandardManagersTest: the SNMP driver of Network UPS Tools
          libmicrohttpd-dev pkg-config prometheus chromium  # the HTTP server; promtool and a browser for its tests
          dpkg-dev man-db groff-base systemd lintian  # scripts/package-check.sh: dependencies, manual pages, unit check, policy
          libsystemd-dev  # readiness, watchdog and status under systemd
          nut-client nut-server  # NUT's clients against pvx's RFC 9271 server; upsd and dummy-ups for its benchmark
          prometheus-snmp-exporter collectd-core  # strict SNMP managers in the end-to-end tests
          curl openssl python3)  # HTTPS checks and certificates, CSV and JSON readers in the tests
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
  # Servers that the packages would start (snmpd on UDP port 161, upsd, the
  # exporters, collectd) must not hold ports or run beside the tests: a
  # policy-rc.d of our own keeps every service from starting while the
  # packages install, and the new ones are disabled afterwards. Services
  # installed before are left as they are.
  policy=/usr/sbin/policy-rc.d
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # service:package of every server above that its package would start
  for pair in snmpd:snmpd snmptrapd:snmptrapd nut-server:nut-server nut-monitor:nut-client \
              prometheus:prometheus prometheus-snmp-exporter:prometheus-snmp-exporter collectd:collectd-core; do
    service=${pair%%:*}
    [[ " ${missing[*]} " == *" ${pair#*:} "* ]] || continue
    if [[ -d /run/systemd/system ]]; then
      systemctl disable --now "$service" >/dev/null 2>&1 || true
    elif command -v systemctl >/dev/null; then
      systemctl disable "$service" >/dev/null 2>&1 || true
    fi
    command -v update-rc.d >/dev/null && { update-rc.d "$service" disable >/dev/null 2>&1 || true; }
  done
fi
