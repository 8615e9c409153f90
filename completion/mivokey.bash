# bash completion for mivokey, the key-binding compiler: its few options,
# and file names for the output and the input.

_mivokey()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} v
    COMPREPLY=()
    if [[ $cur == -o?* ]]; then
        # The output name directly after the letter: "-oFILE".
        while IFS= read -r v; do
            COMPREPLY+=("-o$v")
        done < <(compgen -f -- "${cur#-o}")
        return
    fi
    if [[ $cur == -* && $prev != -o ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-o --help --version' -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _mivokey mivokey
