# bash completion for zeverive and zeverive-batch. The options, and which of
# them take a value, are read from the command's own --help, so they are
# those of the program that runs.
_zeverive()
{
    local cur prev words cword
    _init_completion || return

    # Help lines start with the option's names, comma-separated, then its
    # value's name if it takes one, then two spaces or more.
    local line entry names value name
    local -a options=()
    local -A value_of=()
    while IFS= read -r line; do
        [[ $line =~ ^\ +(-[^ ].*)$ ]] || continue
        entry=${BASH_REMATCH[1]%%  *}
        read -r names value _ <<<"$entry"
        [[ $value == Excludes: || $value == Needs: ]] && value=
        IFS=, read -ra names <<<"${names%%\{*}"
        for name in "${names[@]}"; do
            options+=("$name")
            [[ -n $value ]] && value_of[$name]=$value
        done
    done < <("$1" --help 2>/dev/null)

    if [[ -n ${value_of[$prev]+set} ]]; then
        case ${value_of[$prev]} in
        *FILE* | CLEAN) _filedir ;;
        *DIR*) _filedir -d ;;
        *\|*)
            local choices=${value_of[$prev]%%=*}
            COMPREPLY=($(compgen -W "${choices//|/ }" -- "$cur"))
            ;;
        esac
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${options[*]}" -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _zeverive zeverive zeverive-batch
