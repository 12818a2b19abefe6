#!/usr/bin/env bash
# Builds VeskCfg and runs every test: on Linux as it ships, on Linux with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for variant in release sanitize windows; do
  flags=()
  [ "$variant" = sanitize ] && flags=(-DVESKCFG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  [ "$variant" = windows ] && flags=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
  echo "== $variant build"
  cmake -S . -B "build/$variant" -G Ninja "${flags[@]}" >/dev/null
  cmake --build "build/$variant"
  echo "== $variant tests"
  if [ "$variant" = windows ]; then
    export WINEPREFIX=$(mktemp -d /tmp/veskcfg-wine-XXXXXX) WINEDEBUG=-all
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  fi
  (cd "build/$variant" && ctest --output-on-failure -j2)
done
if [ -n "${WINEPREFIX:-}" ]; then
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
