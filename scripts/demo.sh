#!/usr/bin/env bash
# Builds VeskCfg and vesknet and runs a short session on a fresh simulated
# network; the picture of the network is left in /tmp/veskcfg-demo.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh linux
cmake --preset linux -DBUILD_TESTING=OFF >/dev/null
cmake --build --preset linux >/dev/null
world=$(mktemp -d /tmp/veskcfg-demo-XXXXXX)
trap 'rm -rf "$world"' EXIT
build/linux/veskcfg-demo build/linux/VeskCfg build/linux/vesknet "$world/world" /tmp/veskcfg-demo.svg
