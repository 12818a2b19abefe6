#!/usr/bin/env bash
# What a domain logon costs: `lp DC1` with the account stored for it, over a
# Samba AD DC, logging on by Kerberos (the console's krb5.conf names the
# domain's realm: the KDC is asked first, then the session) and by NTLM (it
# names none), each run's logon checked in the DC's log; then the time a
# domain lab takes to start, with its provision made and unpacked. As root
# with Samba's AD server installed.
#
#   bench/domain.sh [RUNS [BUILD]]      21 runs; BUILD holds VeskCfg (build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-21}
build=$(realpath "${2:-build/linux}")
cache=$(mktemp -u /tmp/veskcfg-ad-provision-XXXXXX.tar)
trap 'rm -f "$cache"' EXIT
lab=(--dc DC1=admin:psecret)

elapsed() {  # elapsed COMMAND...: wall time in ms
  local started
  started=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  echo $((($(date +%s%N) - started) / 1000000))
}

echo "A domain lab until its DC's ports 88, 389 and 445 accept"
printf '  %-28s %6d ms\n' "provision made" "$(VESKCFG_AD_PROVISION=$cache elapsed bash scripts/smb-servers.sh "${lab[@]}" -- true)"
printf '  %-28s %6d ms\n' "provision unpacked" "$(VESKCFG_AD_PROVISION=$cache elapsed bash scripts/smb-servers.sh "${lab[@]}" -- true)"

# Inside the lab: the runs of each mechanism in turn, and their medians.
export VESKCFG_BENCH_RUNS=$runs VESKCFG_BENCH_PROGRAM=$build/VeskCfg
VESKCFG_AD_PROVISION=$cache bash scripts/smb-servers.sh "${lab[@]}" -- bash -c '
  set -euo pipefail
  world=$(mktemp -d)
  trap "rm -rf $world" EXIT
  mkdir -p "$world/CONSOLE"
  ask=$world/ask
  printf "#!/bin/sh\ncase \"\$1\" in *Username*) echo admin;; *) echo psecret;; esac\n" >"$ask"
  chmod +x "$ask"
  export VESKCFG_WORLD=$world VESKCFG_COMPUTERNAME=CONSOLE VESKCFG_NETWORK=smb
  VESKCFG_ASKPASS=$ask VESKCFG_ASKPASS_REQUIRE=force "$VESKCFG_BENCH_PROGRAM" mp DC1 </dev/null >/dev/null
  sessions=$VESKCFG_SMB_LAB/DC1/log/log.smbd
  declare -A median
  echo
  echo "lp DC1 with stored credentials, median of $VESKCFG_BENCH_RUNS runs"
  for mechanism in Kerberos NTLM; do
    config=$VESKCFG_SMB_LAB/krb5.conf seen="[SMB2,krb5]"
    [ $mechanism = NTLM ] && config=$VESKCFG_SMB_LAB/krb5-norealm.conf seen="[SMB2,NTLMSSP]"
    times=()
    for _ in $(seq "$VESKCFG_BENCH_RUNS"); do
      before=$(wc -c <"$sessions")
      started=$(date +%s%N)
      KRB5_CONFIG=$config "$VESKCFG_BENCH_PROGRAM" lp DC1 >/dev/null
      times+=($((($(date +%s%N) - started) / 1000)))
      tail -c +$((before + 1)) "$sessions" | grep -qF "$seen" || { echo "  a run did not log on with $mechanism" >&2; exit 1; }
    done
    median[$mechanism]=$(printf "%s\n" "${times[@]}" | sort -n | sed -n "$(((VESKCFG_BENCH_RUNS + 1) / 2))p")
    printf "  %-10s %8.1f ms\n" $mechanism "$(awk "BEGIN{print ${median[$mechanism]} / 1000}")"
  done
  printf "  Kerberos/NTLM %5.2f\n" "$(awk "BEGIN{print ${median[Kerberos]} / ${median[NTLM]}}")"
'
