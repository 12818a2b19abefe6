#!/usr/bin/env bash
# vesknet.exe check under Wine on a console that stores COUNT role records
# (200), beside Wine's reg query of the same keys: all of them distributed
# servers of the console, its list naming each; then the same records with a
# tenth of them primaries of their own that cannot be reached, each read by a
# vesknet.exe of its own. In a Wine prefix of its own, with the test network
# provider of the Windows build's tests.
#
#   bench/vesknet_wine.sh [COUNT [RUNS [PROGRAM_DIR]]]
#       200 records, 5 runs, build/windows/bin/e2e (vesknet.exe, the stand-ins, mpr.dll, record_hex.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200}
runs=${2:-5}
program=$(cd "${3:-build/windows/bin/e2e}" && pwd)
wine=/usr/lib/wine/wine64
work=$(mktemp -d /tmp/veskcfg-bench-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mpr=n VESKCFG_TEST_NETWORK="Z:${work//\//\\}"
trap '"${wine%/*}/wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT
"$wine" wineboot -i >/dev/null 2>&1
console=$("$wine" cmd /c echo %COMPUTERNAME% | tr -d '\r')
hex() { "$wine" "$program/record_hex.exe" "$@" | tr -d '\r' | sed 's/../&,/g; s/,$//'; }

# The records in one .reg file, imported by reg.exe, which says when an
# import fails (regedit ends with 0 whatever it did).
store() {  # how many of the records are primaries that cannot be reached
  local remote=$1 own distributed i reg=$work/setup.reg
  own=$(hex "$console" admin pw 0)
  distributed=$(hex "$console" dadmin dpw 1)
  {
    printf 'REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere]\n\n'
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\%s\\Vesklane]\n"Slot_1"=hex:%s\n\n' "$console" "$own"
    for i in $(seq -w "$count"); do
      if [ "$i" -le "$remote" ]; then
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\DOWN%s\\Vesklane]\n"Slot_1"=hex:%s\n\n' "$i" "$(hex "DOWN$i" admin pw 0)"
      else
        printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Servers\\DIST%s\\Vesklane]\n"Slot_1"=hex:%s\n\n' "$i" "$distributed"
      fi
    done
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n'
    for i in $(seq -w "$count"); do [ "$i" -le "$remote" ] || printf '"DIST%s"=hex(1):\n' "$i"; done
  } >"$reg"
  printf 'DOWN%s\n' $(seq -w "$count") >"$work/offline"
  "$wine" reg import "Z:${reg//\//\\}" >/dev/null || { echo "the records were not imported" >&2; exit 1; }
}

# The median wall time, in ms, of a command.
median() {
  for _ in $(seq "$runs"); do
    local started ended
    started=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    ended=$(date +%s%N)
    echo $(((ended - started) / 1000000))
  done | sort -n | sed -n "$(((runs + 1) / 2))p"
}

echo "vesknet.exe check under Wine, $count records, median of $runs runs"
for remote in 0 $((count / 10)); do
  store "$remote"
  findings=$(cd "$program" && "$wine" vesknet.exe check | grep -c mend || true)
  check=$(cd "$program" && median "$wine" vesknet.exe check)
  query=$(median "$wine" reg query 'HKLM\SOFTWARE\Tallmere' /s)
  printf '  %3d unreachable primaries: check %6d ms (%d findings)   reg query /s %6d ms   ratio %.2f\n' \
    "$remote" "$check" "$findings" "$query" "$(echo "$check / $query" | bc -l)"
done
