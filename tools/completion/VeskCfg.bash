# bash completion for VeskCfg: the command word, then computers of the world.
_veskcfg_computers() {
    local world=${VESKCFG_WORLD:-${XDG_STATE_HOME:-$HOME/.local/state}/veskcfg/world}
    [ -d "$world" ] && (cd "$world" && ls -d -- */ 2>/dev/null | sed 's:/$::')
}
_veskcfg() {
    local current=${COMP_WORDS[COMP_CWORD]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "mp md rd frd rp ld lp cc" -- "$current"))
    elif [ "$COMP_CWORD" -le 3 ]; then
        COMPREPLY=($(compgen -W "$(_veskcfg_computers)" -- "$current"))
    fi
}
complete -F _veskcfg VeskCfg
