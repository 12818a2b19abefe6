#!/usr/bin/env bash
# VeskCfg.exe under Wine, for what Wine can do: the usage text, the store
# loaded from the real registry, and mp on a server that Wine's networking
# cannot reach.
set -u
exe=$1
record_hex=$2
wine=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=$(mktemp -d /tmp/veskcfg-wine-XXXXXX) WINEDEBUG=-all
trap '"${wine%/*}/wineserver" -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
failures=0

check() {  # what, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1"; else
    echo "FAILED: $1"; printf 'expected: %q\nactual:   %q\n' "$2" "$3"; failures=$((failures + 1)); fi
}

run() {  # arguments...: output in $out (with a sentinel against lost line ends), status in $status
  out=$("$wine" "$exe" "$@" 2>/dev/null < /dev/null; echo "status=$?")
  status=${out##*status=}
  out=${out%status=*}
}

usage=$(printf '%s\r\n' \
  " Vesklane Configuration Version 0.1." " Sintax:" " VeskCfg [?][command PrimaryServer [DistributedServer]]" \
  " where: command can be:" "      mp  - to make a primary server." \
  "      md  - to assign a distributed server to a primary server." "      rp  - to remove primary server." \
  "      rd  - to remove distributed server from primary server." \
  "      frd - to force remove distributed server from primary server." \
  "      ld  - to list all distributed servers of a primary server." \
  "      lp  - to list the primary server of a distributed server." \
  "      cc  - to change credentials for a server." " Ex:" " VeskCfg rd primserver distrserver." \
  "     will remove \"distrserver\" from \"primserver\"."; echo x)
usage=${usage%x}

"$wine" wineboot -i >/dev/null 2>&1

run
check "usage text, with the Windows runtime's line ends" "$usage" "$out"
check "usage exit status" 0 "$status"

run "?"
check "a lone ? loads the store, then the usage text" "$usage" "$out"
check "exit status 87" 87 "$status"
"$wine" reg query 'HKLM\SOFTWARE\Tallmere\Servers' >/dev/null 2>&1
check "the store created its key in the real registry" 0 $?

# A stored record for SRV (account "admin", password "pw"), so that mp
# connects without a prompt.
record=$("$wine" "$record_hex" SRV admin pw 0 2>/dev/null | tr -d '\r')
"$wine" reg add 'HKLM\SOFTWARE\Tallmere\Servers\SRV\Vesklane' /v Slot_1 /t REG_BINARY /d "$record" /f >/dev/null 2>&1
check "stored record written" 0 $?

run mp srv
expected=$(printf 'Making SRV a primary.\r\nERROR! No network.\r\r\nFailed During Transaction.\r\n'; echo x)
check "mp on a server Wine cannot reach" "${expected%x}" "$out"
check "exit status 1222, of which Linux keeps the low byte" $((1222 & 255)) "$status"

[ $failures -eq 0 ]
