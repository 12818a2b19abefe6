#!/usr/bin/env bash
# Makes the .deb and the Windows .zip from the builds of scripts/test.sh; as
# root, installs the .deb and checks that VeskCfg, vesknet and their manual
# pages are found from the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== packages"
(cd build/linux && cpack >/dev/null && ls veskcfg_*.deb)
(cd build/windows && cpack >/dev/null && ls veskcfg-*-windows.zip)
# The .zip as a person unpacks it: a README at the top, and VeskCfg.exe /?
# and vesknet.exe --help working from the folder as it is (the maker's DLLs
# are delay-loaded).
if [ -x /usr/lib/wine/wine64 ] && command -v unzip >/dev/null; then
  unpacked=$(mktemp -d /tmp/veskcfg-zip-XXXXXX)
  export WINEPREFIX=$unpacked/prefix WINEDEBUG=-all
  unzip -q build/windows/veskcfg-*-windows.zip -d "$unpacked"
  folder=$(echo "$unpacked"/veskcfg-*-windows)
  grep -q "stand-ins" "$folder/README.txt" || { echo "FAILED: no README.txt at the top of the .zip"; exit 1; }
  usage=$(cd "$folder" && /usr/lib/wine/wine64 VeskCfg.exe '/?' 2>/dev/null | head -n 1 | tr -d '\r')
  [ "$usage" = " Vesklane Configuration Version 0.1." ] || { echo "FAILED: VeskCfg.exe /? in the unpacked .zip"; exit 1; }
  status=0
  (cd "$folder" && /usr/lib/wine/wine64 VeskCfg.exe lp X >/dev/null 2>"$unpacked/err") || status=$?
  [ "$status" -eq 126 ] && grep -q "Quenbase.dll cannot be loaded" "$unpacked/err" ||
    { echo "FAILED: a command without the DLLs (status $status)"; cat "$unpacked/err"; exit 1; }
  (cd "$folder" && /usr/lib/wine/wine64 vesknet.exe --help 2>/dev/null | grep -q "check") ||
    { echo "FAILED: vesknet.exe --help in the unpacked .zip"; exit 1; }
  status=0
  (cd "$folder" && /usr/lib/wine/wine64 vesknet.exe check >/dev/null 2>"$unpacked/err") || status=$?
  [ "$status" -eq 2 ] && grep -q "^vesknet: Quenbase.dll cannot be loaded" "$unpacked/err" ||
    { echo "FAILED: vesknet.exe check without the DLLs (status $status)"; cat "$unpacked/err"; exit 1; }
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$unpacked"
  unset WINEPREFIX
  echo "the unpacked .zip: README.txt at the top; VeskCfg.exe /? and vesknet.exe --help work as they are, other commands say what is missing"
fi
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
# The installed program finds its smb module: in a network namespace with no
# network at all, where no lookup can leave the machine, a server is not found
# (53) rather than the network missing (50).
if [ -e /usr/lib/veskcfg/veskcfg-smb.so ]; then
  world=$(mktemp -d)
  export VESKCFG_WORLD=$world VESKCFG_COMPUTERNAME=CONSOLE
  vesknet init >/dev/null
  # The record `mp NOWHERE` stores for admin:pw, so that lp connects at once.
  printf '%s\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\SOFTWARE\Tallmere\Servers\NOWHERE\Vesklane]' \
    '"Slot_1"=hex:4e,4f,57,48,45,52,45,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,5d,37,07,e8,f6,af,c6,dd,3c,53,6a,81,98,af,c6,dd,3c,53,6a,81,98,af,c6,dd,4c,24,6a,81,98,af,c6,dd,3c,53,6a,81,98,af,c6,dd,3c,53,6a,81,98,af,c6,dd' \
    '' >"$world/CONSOLE/hklm.reg"
  status=0
  unshare --net env VESKCFG_NETWORK=smb VeskCfg lp NOWHERE >/dev/null 2>"$world/err" || status=$?
  [ "$status" -eq 53 ] || { echo "FAILED: the installed smb module (lp over smb gave $status)"; cat "$world/err"; exit 1; }
  rm -rf "$world"
  unset VESKCFG_WORLD VESKCFG_COMPUTERNAME
  echo "the installed program loads its smb module"
fi
echo "the .deb installs; VeskCfg, vesknet and their manual pages are found from the PATH"
