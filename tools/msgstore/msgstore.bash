# bash completion for msgstore(1): commands, stores, folder names and
# options, read from the tool's own help (which lists what the library's
# store descriptions hold), so that it knows no store itself. Installed as
# share/bash-completion/completions/msgstore.

# The lines of a section ("Options:", "Positionals:", "Subcommands:") of the
# help of the command words given.
_msgstore_section() {
    local title=$1
    shift
    "$_msgstore_tool" "$@" --help 2>/dev/null |
        awk -v title="$title" '$0 == title { on = 1; next } on && !/^  / { exit } on'
}

# The long options of the command words given, and the global ones; with
# "values", only those that take a value (a word in capitals follows them).
_msgstore_options() {
    local which=$1
    shift
    { _msgstore_section "Options:" "$@"; _msgstore_section "Options:"; } |
        awk -v which="$which" '{
            n = split($1, names, ",")
            for (i = 1; i <= n; i++)
                if (names[i] ~ /^--/ && (which != "values" || $2 ~ /^[A-Z]+$/)) print names[i]
        }' | sort -u
}

# The choices of positional argument k (from 1) of the command words given
# (the last one takes every argument after it when its help says "..."): the
# names its help lists ("inbox, draft, ..., or a number", "The store: sms
# (default), mms, email"), or "-f" for a file.
_msgstore_positional() {
    local k=$1
    shift
    _msgstore_section "Positionals:" "$@" | awk -v k="$k" '{ line[NR] = $0 } END {
        # After a list ("ID ...") that a last argument follows, every further word
        # may be that last one.
        for (i = 1; i < NR; i++) if (line[i] ~ /^ +[^ ]+ +[A-Z]+ \.\.\./) list = 1
        if (k > NR && (list || line[NR] ~ /^ +[^ ]+ \.\.\./)) k = NR
        if (!(k in line)) exit
        $0 = line[k]
        if ($2 == "FILE") { print "-f"; exit }
        text = $0
        sub(/^ +[^ ]+ +[A-Z]+( +[A-Z]+)* +/, "", text)
        if (text !~ /: / && text !~ /, or a number( \(default: [^)]*\))?$/) exit
        sub(/(, or a number( \(default: [^)]*\))?| \(default: all\))$/, "", text)
        sub(/^[^:]*: /, "", text)
        gsub(/ \(default\)/, "", text)
        n = split(text, names, /, /)
        for (i = 1; i <= n; i++) if (names[i] !~ / /) print names[i]
    }'
}

# Names of directories (-d) or files (-f), quoted as file names when shown.
_msgstore_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$cur")
}

# Whether option $1 takes a value in the command words given or in one of
# their subcommands (an option may stand before the store it belongs to).
_msgstore_takes_value() {
    local option=$1 sub
    shift
    _msgstore_options values "$@" | grep -qxF -- "$option" && return 0
    for sub in $(_msgstore_section "Subcommands:" "$@" | awk '{ print $1 }'); do
        _msgstore_options values "$@" "$sub" | grep -qxF -- "$option" && return 0
    done
    return 1
}

_msgstore() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local _msgstore_tool=${COMP_WORDS[0]}

    # The command words (each one a subcommand of those before) and the
    # arguments after them; the values of options are neither.
    local path=() args=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        local w=${COMP_WORDS[i]}
        if [[ $w == -* ]]; then
            _msgstore_takes_value "$w" "${path[@]}" && ((i++))
        elif ((${#args[@]} == 0)) &&
            _msgstore_section "Subcommands:" "${path[@]}" | awk '{ print $1 }' | grep -qxF -- "$w"; then
            path+=("$w")
        else
            args+=("$w")
        fi
    done

    case $prev in
        --root) _msgstore_files -d && return ;;
        --body) _msgstore_files -f && return ;;
        -*) _msgstore_takes_value "$prev" "${path[@]}" && return ;;
    esac

    local choices
    if [[ $cur == -* ]]; then
        choices=$(_msgstore_options all "${path[@]}")
    else
        choices=$(_msgstore_section "Subcommands:" "${path[@]}" | awk '{ print $1 }')
        if [[ -z $choices || ${#args[@]} -gt 0 ]]; then
            choices=$(_msgstore_positional $((${#args[@]} + 1)) "${path[@]}")
            [[ $choices == -f ]] && _msgstore_files -f && return
        fi
    fi
    mapfile -t COMPREPLY < <(compgen -W "$choices" -- "$cur")
}

complete -F _msgstore msgstore
