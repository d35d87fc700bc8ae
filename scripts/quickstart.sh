#!/usr/bin/env bash
# Builds pvx and shows what it does so far.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build pvx
build/pvx -v
