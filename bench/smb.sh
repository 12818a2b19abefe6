#!/usr/bin/env bash
# What the real network costs: how long Samba servers take to start, a
# server at a time; a whole md over two of them beside an ld against the
# world; then ld and md over a server whose list holds 10, 1,000 and 10,000
# names, at 0, 10 and 50 ms added to each round trip (a relay, since the
# kernel may have no netem), each beside Samba's net rpc registry enumerate
# of the same list (veskcfg-scale --smb). Give other VeskCfg programs to
# measure them side by side in the same labs. As root with Samba installed.
#
#   bench/smb.sh [RUNS [BUILD [VESKCFG...]]]
#       5 runs; BUILD holds VeskCfg, veskcfg-scale and veskcfg-relay (build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${2:-build/linux}

# The median wall time, in ms, of a lab of $1 servers that runs `true`.
startup() {
  local servers=() i
  for i in $(seq "$1"); do servers+=("S$i=admin:pw"); done
  for _ in $(seq "$runs"); do
    local started ended
    started=$(date +%s%N)
    bash scripts/smb-servers.sh "${servers[@]}" -- true
    ended=$(date +%s%N)
    echo $(((ended - started) / 1000000))
  done | sort -n | sed -n "$(((runs + 1) / 2))p"
}

empty=$(startup 0)
echo "Samba servers until port 445 accepts, median of $runs labs"
printf '  %-22s %6d ms  (namespaces and files only)\n' "no server" "$empty"
for n in 1 3 6; do
  took=$(startup "$n")
  printf '  %-22s %6d ms  %6d ms a server\n' "$n server(s)" "$took" $(((took - empty) / n))
done

shift $(($# > 2 ? 2 : $#))
programs=("$build/VeskCfg" "$@")
export VESKCFG_RELAY=$build/veskcfg-relay
for delay in 0 10 50; do
  echo
  echo "== PRIM $delay ms away (added to each round trip)"
  for program in "${programs[@]}"; do
    # Runs that fail are shown as such in the table; the next figures go on.
    bash scripts/smb-servers.sh --delay PRIM=$delay PRIM=admin:pw DIST=admin:pw -- \
      "$build/veskcfg-scale" --smb --runs "$runs" "$program" || true
  done
done
