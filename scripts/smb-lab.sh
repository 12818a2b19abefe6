#!/usr/bin/env bash
# A lab of three Samba servers (BACKUP1, STORE2, STORE3), in the namespaces
# scripts/smb-servers.sh makes (NOWHERE is a name with no server), and the
# demonstration's commands run against them from a console of a fresh world
# with VESKCFG_NETWORK=smb. As root; builds the Linux programs first.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --inside ]; then
  bash scripts/deps.sh linux
  cmake --preset linux -DBUILD_TESTING=OFF >/dev/null
  cmake --build --preset linux >/dev/null
  exec bash scripts/smb-servers.sh --down NOWHERE BACKUP1=backupadmin:Vault-42 STORE2=storeadmin:Shelf-7 \
    STORE3=storeadmin:Shelf-8 -- bash "$0" --inside
fi
world=$(mktemp -d /tmp/veskcfg-smb-demo-XXXXXX)
trap 'rm -rf "$world"' EXIT
build/linux/veskcfg-demo --smb build/linux/VeskCfg build/linux/vesknet "$world/world" /dev/null
echo
echo "# BACKUP1's registry, as Samba's own net reads it:"
if list=$(net -s "$VESKCFG_SMB_LAB/BACKUP1/smb.conf" registry enumerate \
  'HKLM\SOFTWARE\Tallmere\Vesklane\VeskDistributedServers' 2>/dev/null); then
  echo "${list:-(the list is there and empty: every server was detached)}"
else
  echo "(no list)"
fi
