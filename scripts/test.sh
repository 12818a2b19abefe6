#!/usr/bin/env bash
# Builds VeskCfg and runs every test: once as it ships, once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for variant in release sanitize; do
  flags=()
  [ "$variant" = sanitize ] && flags=(-DVESKCFG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  echo "== $variant build"
  cmake -S . -B "build/$variant" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "build/$variant"
  echo "== $variant tests"
  (cd "build/$variant" && ctest --output-on-failure -j2)
done
