#!/usr/bin/env bash
# Builds VeskCfg and runs a short session on a fresh simulated network.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh linux
cmake -S . -B build/demo -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo >/dev/null
world=$(mktemp -d /tmp/veskcfg-demo-XXXXXX)
trap 'rm -rf "$world"' EXIT
build/demo/veskcfg-demo build/demo/VeskCfg "$world/world"
