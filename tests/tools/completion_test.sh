#!/usr/bin/env bash
# The bash completions offer what each word can be: rows of a command line
# (the word being completed last), the words offered.
# completion_test.sh SOURCE-DIR VESKNET-BINARY-DIR
set -uo pipefail
source "$1/tools/completion/veskcfg.bash"
PATH=$2:$PATH
world=$(mktemp -d "/tmp/veskcfg completion XXXXXX")  # a blank in the path
trap 'rm -rf "$world"' EXIT
mkdir "$world/PRIM" "$world/PEER" "$world/Dist One"
export VESKCFG_WORLD=/nonexistent
failed=0
row() {  # row EXPECTED FUNCTION WORD...
    local expected=$1 function=$2
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    if [ "$got" != "$expected" ]; then
        echo "FAILED: $* -> [$got], expected [$expected]"
        failed=1
    fi
}
quotedWorld=$(printf '%q' "$world")
VESKCFG_WORLD=$world row "PEER PRIM" _veskcfg VeskCfg md p
VESKCFG_WORLD=$world row "PEER PRIM" _veskcfg VeskCfg md PRIM p
VESKCFG_WORLD=$world row "" _veskcfg VeskCfg mp PRIM p
VESKCFG_WORLD=$world row 'Dist\ One' _veskcfg VeskCfg ld d
row "PEER PRIM" _vesknet vesknet --world "$quotedWorld" offline P
row "--clear" _vesknet vesknet --world "$quotedWorld" fault PRIM --cl
row "RegCloseKey RegConnectRegistryA RegCreateKeyExA" _vesknet vesknet --world "$quotedWorld" fault PRIM RegC
row "dot svg" _vesknet vesknet graph --format ""
row "check" _vesknet vesknet --console X ch
exit $failed
