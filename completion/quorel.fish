# fish completion for quorel: options with their descriptions, their values
# where there are few, file names otherwise. fish reads this file when quorel
# is first completed in a session; the options are asked of the program then,
# so that this file never lists them.

function __quorel_register
    # short<TAB>long<TAB>value<TAB>description; empty fields are kept.
    command quorel --list-options 2>/dev/null | while read -l line
        set -l f (string split \t -- $line)
        set -q f[4]; or continue
        set -l long (string match -r -- '^--([[:alnum:]][-[:alnum:]]*)$' $f[2])[2]
        set -q long[1]; or continue
        set -l args -c quorel -l $long -d $f[4]
        set -l letter (string match -r -- '^-([[:alnum:]])$' $f[1])[2]
        switch $f[3]
            case ''
            case FILE
                set -a args -r -F
            case '[*'
                # A value in brackets may be left out: given only after "=".
            case '*|*'
                # A letter of a choice picks one value itself.
                set -q letter[1]; and complete -c quorel -s $letter -d $f[4]
                set -e letter
                # The choices are data: quoted, so that nothing in them is
                # expanded when fish reads them back.
                set -a args -x -a (string escape -- (string split '|' -- $f[3]) | string join ' ')
            case '*'
                set -a args -x
        end
        set -q letter[1]; and set -a args -s $letter
        complete $args
    end
end

__quorel_register
functions -e __quorel_register
