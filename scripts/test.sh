#!/usr/bin/env bash
# Builds VeskCfg and runs every test: on Linux as it ships, on Linux with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build
# under Wine; then makes the packages and, as root, installs the .deb and
# runs the programs from the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in linux sanitize windows; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset tests"
  if [ "$preset" = windows ]; then
    export WINEPREFIX=$(mktemp -d /tmp/veskcfg-wine-XXXXXX) WINEDEBUG=-all
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  fi
  started=$SECONDS
  (cd "build/$preset" && ctest --output-on-failure -j2)
  echo "== $preset tests took $((SECONDS - started)) s"
done
if [ -n "${WINEPREFIX:-}" ]; then
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
bash scripts/package.sh
