# bash completion for vesknet: subcommands, then computers of the world.
_vesknet() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local world=${VESKCFG_WORLD:-${XDG_STATE_HOME:-$HOME/.local/state}/veskcfg/world}
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "init add offline online fault show check graph --world --console --help" -- "$current"))
    elif [ "$COMP_CWORD" -eq 2 ]; then
        case ${COMP_WORDS[1]} in
            offline|online|fault|add)
                COMPREPLY=($(compgen -W "$([ -d "$world" ] && cd "$world" && ls -d -- */ 2>/dev/null | sed 's:/$::')" -- "$current")) ;;
            show) COMPREPLY=($(compgen -W "--json" -- "$current")) ;;
            graph) COMPREPLY=($(compgen -W "--format -o" -- "$current")) ;;
        esac
    elif [ "${COMP_WORDS[1]}" = fault ] && [ "$COMP_CWORD" -eq 3 ]; then
        COMPREPLY=($(compgen -W "--clear RegOpenKeyExA RegQueryValueExA RegCreateKeyExA RegSetValueExA RegDeleteValueA RegEnumValueA RegConnectRegistryA RegCloseKey RegFlushKey WNetAddConnection2A WNetCancelConnection2A GetComputerNameA FormatMessageA loadStore readRecord writeRecord deleteRecord commitStore productInfo" -- "$current"))
    fi
}
complete -F _vesknet vesknet
