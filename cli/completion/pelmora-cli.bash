# bash completion for pelmora-cli: subcommands, their options, directories and list files.
_pelmora_cli() {
    local cur prev cmd
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    cmd=${COMP_WORDS[1]}
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "count export snapshot history report help --help --version" -- "$cur"))
        return
    fi
    local counting="--jobs --quiet --disk-usage --help"
    local opts
    case $cmd in
        count) opts="--csv --json $counting" ;;
        export) opts="--output --history $counting" ;;
        snapshot) opts="$counting" ;;
        history) opts="--since --until --top --csv --json --plot --help" ;;
        report) opts="--output --help" ;;
        help)
            COMPREPLY=($(compgen -W "count export snapshot history report" -- "$cur"))
            return ;;
    esac
    case $prev in
        -j | --jobs | --top | --since | --until) return ;;
        -o | --output | --plot)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    elif [[ $cmd == count ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -o filenames -F _pelmora_cli pelmora-cli
