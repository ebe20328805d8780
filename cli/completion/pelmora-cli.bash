# bash completion for pelmora-cli: its commands, each command's options, and the directories
# and files they take. Names stay whole whatever bytes they hold, a newline alone excepted:
# candidates are read one a line and readline quotes what it inserts (compopt -o filenames).

# One entry per command: its options, then what its operands are (dir, file or command). An
# option that takes a value ends in "=" and what completes the value: "=file", "=dir",
# "=a|b|c" for one of those words, or "=" alone for free text such as a number or a date.
declare -gA _pelmora_cli_table=(
    [count]='-d= --max-depth= --sort=bytes|files|dirs|name --top= -h --human-readable --si -a --all --exclude= -x --one-file-system --csv --json --ncdu-export=file --disk-usage -j= --jobs= -q --quiet --help dir'
    [export]='-o=file --output=file --history --depth=0|1|2|3 --metrics=file --disk-usage -j= --jobs= -q --quiet -h --help file'
    [snapshot]='--depth=0|1|2|3 --metrics=file --disk-usage -j= --jobs= -q --quiet -h --help file'
    [history]='--explain=dir --since= --until= --top= --csv --json --plot=file -h --help file'
    [report]='-o=file --output=file -h --help file'
    [help]='-h --help command'
)
_pelmora_cli_commands='count export snapshot history report help'

# REPLY: the word $1 as the shell reads it, its quotes removed and its escapes resolved.
_pelmora_cli_dequote() {
    local w=$1 c q='' i
    REPLY=''
    for ((i = 0; i < ${#w}; i++)); do
        c=${w:i:1}
        if [[ $q == "'" ]]; then
            if [[ $c == "'" ]]; then q=''; else REPLY+=$c; fi
        elif [[ $c == "\\" && ( -z $q || ${w:i+1:1} == [\"\\\$\`] ) ]]; then
            i=$((i + 1))
            REPLY+=${w:i:1}
        elif [[ $c == '"' ]]; then
            if [[ -n $q ]]; then q=''; else q='"'; fi
        elif [[ -z $q && $c == "'" ]]; then
            q="'"
        else
            REPLY+=$c
        fi
    done
}

# REPLY: what the option $1 takes by the table's entries $2...: "-" when it takes no value or is
# not there (or is an ambiguous prefix), "text" for free text, else its kind. A long option may be
# a prefix that names one option alone.
_pelmora_cli_takes() {
    local given=$1 option name kind found=''
    shift
    for option; do
        name=${option%%=*}
        kind=-
        [[ $option == *=* ]] && kind=${option#*=}
        kind=${kind:-text}
        if [[ $name == "$given" ]]; then
            REPLY=$kind
            return
        fi
        if [[ $given == --?* && $name == "$given"* ]]; then
            [[ -n $found && $found != "$kind" ]] && kind=-
            found=$kind
        fi
    done
    REPLY=${found:--}
}

_pelmora_cli() {
    local IFS=$' \t\n' cur=$2 i line rest first=0 part=0 prefix=''
    COMPREPLY=()
    # bash cuts a word at "=" and ":" ("a:b" arrives as "a" ":" "b"), the shell does not, and
    # readline completes the last part only ($2): find where the shell's word begins.
    line=${COMP_LINE:0:COMP_POINT}
    for ((i = 0; i <= COMP_CWORD; i++)); do
        rest=${line#"${line%%[![:space:]]*}"}
        if ((i == 0)) || [[ $rest != "$line" ]]; then
            first=$i
        elif ! [[ ${COMP_WORDS[i]} == +([=:]) || ${COMP_WORDS[i - 1]} == +([=:]) ]]; then
            first=$i
        fi
        line=${rest#"${COMP_WORDS[i]}"}
    done
    # The parts before readline's: the cursor may stand right after a "=" or ":".
    part=$COMP_CWORD
    [[ -z $cur && ${COMP_WORDS[COMP_CWORD]} == +([=:]) ]] && part=$((COMP_CWORD + 1))
    for ((i = first; i < part; i++)); do
        _pelmora_cli_dequote "${COMP_WORDS[i]}"
        prefix+=$REPLY
    done
    local word=$prefix$cur

    if ((first == 1)); then
        if [[ $word == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--help --version -h -V' -- "$word")
        else
            mapfile -t COMPREPLY < <(compgen -W "$_pelmora_cli_commands" -- "$word")
        fi
        return
    fi
    local table=${_pelmora_cli_table[${COMP_WORDS[1]}]-}
    [[ -n $table ]] || return
    local -a options
    read -ra options <<<"$table"
    local operands=${options[-1]}
    unset 'options[-1]'

    # What the word is: the value of an option (taken), an option, or an operand.
    local kind=$operands ended='' lead='' taken=''
    for ((i = 2; i < first; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && ended=1
    done
    local prev=${COMP_WORDS[first - 1]}
    if [[ -z $ended && $word == --*=* ]]; then
        _pelmora_cli_takes "${word%%=*}" "${options[@]}"
        kind=$REPLY taken=1
        lead=${word%%=*}=
    elif [[ -z $ended && first -gt 2 && $prev == --?* ]]; then
        _pelmora_cli_takes "$prev" "${options[@]}"
        [[ $REPLY != - ]] && kind=$REPLY taken=1
    elif [[ -z $ended && first -gt 2 && $prev == -[!-]* ]]; then
        # A bundle of short options: its last one may wait for its value.
        for ((i = 1; i < ${#prev}; i++)); do
            _pelmora_cli_takes "-${prev:i:1}" "${options[@]}"
            if [[ $REPLY != - ]]; then
                ((i == ${#prev} - 1)) && kind=$REPLY taken=1
                break
            fi
        done
    fi
    if [[ -z $ended && -z $taken && $word == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[*]%%=*}" -- "$word")
        return
    fi

    # The candidates are whole words; readline replaces only its part of the word.
    local value=${word#"$lead"}
    [[ $prefix == "$lead" ]] && value=$cur
    case $kind in
        - | text) return ;;
        dir) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -d -- "$value") ;;
        file) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -f -- "$value") ;;
        command) mapfile -t COMPREPLY < <(compgen -W "$_pelmora_cli_commands" -- "$value") ;;
        *) mapfile -t COMPREPLY < <(compgen -W "${kind//|/ }" -- "$value") ;;
    esac
    local skip=$((${#prefix} - ${#lead}))
    if ((skip > 0)); then
        for i in "${!COMPREPLY[@]}"; do
            # readline cannot tell a directory by the part it inserts: say so here.
            if [[ -d ${COMPREPLY[i]} ]]; then
                COMPREPLY[i]+=/
                compopt -o nospace
            fi
            COMPREPLY[i]=${COMPREPLY[i]:skip}
        done
    fi
}
complete -F _pelmora_cli pelmora-cli
