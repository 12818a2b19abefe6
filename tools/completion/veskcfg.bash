# bash completion for VeskCfg and vesknet, one file installed under both
# names: computers of the world matched without regard to case, as VeskCfg
# matches them; for VeskCfg the command word, then as many computers as the
# command takes; for vesknet its global options, subcommands, computers of
# the world (--world's, else VESKCFG_WORLD's), call names from vesknet
# itself, and option values.
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

# A word as the shell would read it, for a folder's name: quotes and
# backslashes taken away, a leading ~ for $HOME; never evaluated.
_vesknet_unquoted() {
    local word=$1 out="" at character
    [[ $word == "~"* ]] && word=$HOME${word:1}
    for ((at = 0; at < ${#word}; at++)); do
        character=${word:at:1}
        case $character in
            \\) at=$((at + 1)); out+=${word:at:1} ;;
            \"|\') ;;
            *) out+=$character ;;
        esac
    done
    printf '%s' "$out"
}
_vesknet() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}
    local world
    world=$(_veskcfg_world)
    local at=1 command="" position=0
    COMPREPLY=()
    # The global options come before the subcommand; --world's value is the world.
    while [ "$at" -lt "$COMP_CWORD" ]; do
        case ${COMP_WORDS[at]} in
            --world) world=$(_vesknet_unquoted "${COMP_WORDS[at+1]:-}"); at=$((at + 2)) ;;
            --console | --jobs | --timeout) at=$((at + 2)) ;;
            -*) at=$((at + 1)) ;;
            *) command=${COMP_WORDS[at]}; break ;;
        esac
    done
    case $previous in
        --world) COMPREPLY=($(compgen -d -- "$current")); return ;;
        --console | --jobs | --timeout | --account | -o) return ;;
        --format) COMPREPLY=($(compgen -W "dot svg" -- "$current")); return ;;
    esac
    if [ -z "$command" ]; then
        COMPREPLY=($(compgen -W "init add offline online fault calls show check graph --world --console --jobs --timeout --help --version" -- "$current"))
        return
    fi
    # Which word of the subcommand's is being completed, options left out.
    local word
    for word in "${COMP_WORDS[@]:at+1:COMP_CWORD-at-1}"; do
        [[ $word == -* ]] || position=$((position + 1))
    done
    local IFS=$'\n'
    case $command in
        add | offline | online)
            [ "$position" -eq 0 ] && COMPREPLY=($(_veskcfg_computers "$world" "$current")) ;;
        fault)
            if [ "$position" -eq 0 ]; then
                COMPREPLY=($(_veskcfg_computers "$world" "$current"))
            elif [ "$position" -eq 1 ]; then
                COMPREPLY=($(compgen -W "--clear"$'\n'"$(vesknet calls 2>/dev/null)" -- "$current"))
            fi ;;
        show) COMPREPLY=($(compgen -W "--json" -- "$current")) ;;
        graph) COMPREPLY=($(compgen -W "--format"$'\n'"-o" -- "$current")) ;;
    esac
}
complete -F _vesknet vesknet
