#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing pvx need, when missing.
set -euo pipefail

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd clang libclang-rt-14-dev
          procps time
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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
