# bash completion for quorel: options (letters and long names), their values
# where there are few, file names otherwise. The options are asked of the
# program itself at each completion, so that this file never lists them.

# Print the option table of the program being completed, one option a line:
# short<TAB>long<TAB>value<TAB>description. The name as typed is used when it
# is a path (a build's own program), otherwise the one found on PATH.
_quorel_list()
{
    local prog=$1
    [[ $prog == */* && -x $prog && ! -d $prog ]] || prog=quorel
    command "$prog" --list-options 2>/dev/null
}

# Fill COMPREPLY with the values of a value kind that start with $2: the
# choices of an a|b|c kind, file names for FILE, nothing for a number or text.
_quorel_values()
{
    local kind=$1 cur=$2 prefix=${3-} v
    case $kind in
    FILE)
        # Only a bare name may be quoted and marked up as a file name.
        [[ -z $prefix ]] && compopt -o filenames 2>/dev/null
        while IFS= read -r v; do
            COMPREPLY+=("$prefix$v")
        done < <(compgen -f -- "$cur")
        ;;
    *'|'*)
        local -a choices
        IFS='|' read -r -a choices <<<"$kind"
        for v in "${choices[@]}"; do
            [[ $v == "$cur"* ]] && COMPREPLY+=("$prefix$v")
        done
        ;;
    esac
}

# The value kind of a long name as the viewer reads it: the whole name, or a
# prefix of just one name. Reads the caller's longs and kinds.
_quorel_kind()
{
    local name=${1%%=*} i found=
    for ((i = 0; i < ${#longs[@]}; i++)); do
        [[ ${longs[i]} == "$name" ]] && { kind=${kinds[i]}; return; }
        if [[ ${longs[i]} == "$name"* ]]; then
            [[ -n $found ]] && found=ambiguous || found=$i
        fi
    done
    kind=
    [[ -n $found && $found != ambiguous ]] && kind=${kinds[found]}
}

_quorel()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' prev2=''
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    ((COMP_CWORD > 1)) && prev2=${COMP_WORDS[COMP_CWORD - 2]}
    COMPREPLY=()

    local line short long kind rest
    local -a table=() shorts=() longs=() kinds=()
    mapfile -t table < <(_quorel_list "$1")
    for line in "${table[@]}"; do
        [[ $line == *$'\t'*$'\t'*$'\t'* ]] || continue
        short=${line%%$'\t'*} rest=${line#*$'\t'}
        long=${rest%%$'\t'*} rest=${rest#*$'\t'}
        kind=${rest%%$'\t'*}
        [[ $long =~ ^--[[:alnum:]][-[:alnum:]]*$ ]] || continue
        [[ $short =~ ^-[[:alnum:]]$ ]] || short=
        shorts+=("$short") longs+=("$long") kinds+=("$kind")
    done

    # Options end at "--" and at the first file name (a lone "-" is one);
    # the value of a long option may be the word after it.
    local i=1 word
    while ((i < COMP_CWORD)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -- || $word != [-+]?* ]]; then
            _quorel_values FILE "$cur"
            return
        fi
        kind=
        [[ $word == --?* && $word != *=* ]] && _quorel_kind "$word"
        if [[ $word == --* && ${COMP_WORDS[i + 1]-} == = ]]; then
            ((i += 3))
        elif [[ -n $kind && $kind != \[* ]]; then
            ((i += 2))
        else
            ((i += 1))
        fi
    done

    # bash breaks words at "=" by default, so "--wrap=wo" may arrive as
    # "--wrap" "=" "wo", or whole where "=" is no word break.
    if [[ $cur == = && $prev == --?* ]]; then
        _quorel_kind "$prev"
        _quorel_values "$kind" "" ""
        return
    elif [[ $prev == = && $prev2 == --?* ]]; then
        _quorel_kind "$prev2"
        _quorel_values "$kind" "$cur" ""
        return
    elif [[ $cur == --?*=* ]]; then
        _quorel_kind "$cur"
        _quorel_values "$kind" "${cur#*=}" "${cur%%=*}="
        return
    elif [[ $prev == --?* && $prev != *=* ]]; then
        # A value in brackets may be left out: it is given only after "=".
        _quorel_kind "$prev"
        if [[ -n $kind && $kind != \[* ]]; then
            _quorel_values "$kind" "$cur" ""
            return
        fi
    fi

    if [[ $cur == -* ]]; then
        local glued=
        for ((i = 0; i < ${#longs[@]}; i++)); do
            short=${shorts[i]} long=${longs[i]} kind=${kinds[i]}
            # A letter's number, text or file follows it in the same word
            # ("-x4", "-lFILE"); a letter of a choice picks one value itself.
            if [[ -n $short && -n $kind && $kind != *'|'* ]]; then
                if [[ $cur == "$short"?* ]]; then
                    _quorel_values "$kind" "${cur#"$short"}" "$short"
                    return
                fi
                [[ $short == "$cur" ]] && glued=$short
            fi
            [[ -n $short && $short == "$cur"* ]] && COMPREPLY+=("$short")
            [[ -n $kind && $kind != \[* ]] && long+='='
            [[ $long == "$cur"* ]] && COMPREPLY+=("$long")
        done
        # A value follows a name that ends in "=", and a letter that takes
        # one, in the same word: no space after them.
        [[ ${#COMPREPLY[@]} -eq 1 && (${COMPREPLY[0]} == *= || ${COMPREPLY[0]} == "$glued") ]] &&
            compopt -o nospace 2>/dev/null
        return
    fi

    [[ $cur == +* ]] && return
    _quorel_values FILE "$cur"
}

complete -F _quorel quorel
