# bash completion for VeskCfg: the command word, then as many computers of
# the world as the command takes, matched without regard to case as VeskCfg
# matches them.
_veskcfg_world() {
    printf '%s\n' "${VESKCFG_WORLD:-${XDG_STATE_HOME:-$HOME/.local/state}/veskcfg/world}"
}
# The computers whose names start with $2, in any case, from world $1; each
# quoted for the command line.
_veskcfg_computers() {
    local world=$1 prefix=${2,,} folder name
    [ -d "$world" ] || return 0
    for folder in "$world"/*/; do
        name=${folder%/}
        name=${name##*/}
        [ "$name" = "*" ] && continue
        [[ ${name,,} == "$prefix"* ]] && printf '%q\n' "$name"
    done
}
_veskcfg() {
    local current=${COMP_WORDS[COMP_CWORD]} most=0
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "mp md rd frd rp ld lp cc" -- "$current"))
        return
    fi
    case ${COMP_WORDS[1]} in
        mp | rp | ld | lp | cc) most=1 ;;
        md | rd | frd) most=2 ;;
    esac
    [ "$COMP_CWORD" -le $((most + 1)) ] || return 0
    local IFS=$'\n'
    COMPREPLY=($(_veskcfg_computers "$(_veskcfg_world)" "$current"))
}
complete -F _veskcfg VeskCfg
