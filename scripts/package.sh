#!/usr/bin/env bash
# Makes the .deb and the Windows .zip from the builds of scripts/test.sh; as
# root, installs the .deb and checks that VeskCfg, vesknet and their manual
# pages are found from the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== packages"
(cd build/linux && cpack >/dev/null && ls veskcfg_*.deb)
(cd build/windows && cpack >/dev/null && ls veskcfg-*-windows.zip)
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning --tag-display-limit 0 build/linux/veskcfg_*.deb 2>&1 | grep -v "root privileges" || true
  lintian --fail-on error,warning build/linux/veskcfg_*.deb >/dev/null 2>&1 || { echo "FAILED: lintian"; exit 1; }
  echo "lintian: no error and no warning"
fi
[ "$(id -u)" -eq 0 ] || { echo "not root: the .deb is not installed"; exit 0; }
dpkg -i build/linux/veskcfg_*.deb >/dev/null
trap 'dpkg -r veskcfg >/dev/null' EXIT
cd /tmp
VeskCfg | grep -q "Vesklane Configuration Version 0.1." || { echo "FAILED: VeskCfg from the PATH"; exit 1; }
vesknet --help | grep -q "check" || { echo "FAILED: vesknet from the PATH"; exit 1; }
if grep -qs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  echo "dpkg is told to leave manual pages out on this machine: man VeskCfg not checked"
else
  man -w VeskCfg >/dev/null && man -w vesknet >/dev/null || { echo "FAILED: the manual pages"; exit 1; }
  MANWIDTH=80 man VeskCfg 2>/dev/null | grep -q "group the servers" || { echo "FAILED: man VeskCfg"; exit 1; }
fi
echo "the .deb installs; VeskCfg, vesknet and their manual pages are found from the PATH"
