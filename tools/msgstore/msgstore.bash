# bash completion for msgstore(1): commands, stores, folder names and
# options. Installed as share/bash-completion/completions/msgstore.

_msgstore_folders() {
    case $1 in
        sms) echo "inbox draft sent unsent report spam sim-inbox sim-sent sim-unsent none" ;;
        mms) echo "inbox draft sent unsent report spam autodownload none" ;;
        email) echo "inbox draft sent unsent report spam none" ;;
    esac
}

# The options of a command, given as its words ("add email", "account use").
_msgstore_options() {
    local common="--root --card --json --help"
    case "$1 $2" in
        "ls "*)
            echo "$common --index"
            [[ $2 == email ]] && echo "--account" ;;
        "show "*) echo "$common --raw" ;;
        "add "*)
            echo "$common --to --subject --text --body --time --status --msgid --read --auto"
            case $2 in
                mms) echo "--mms-text --mms-value1 --mms-value2 --mms-wvalue1 --mms-wvalue2" \
                          "--mms-wvalue3 --mms-wquick1 --mms-wquick2" ;;
                email) echo "--quick-value --email-data1 --email-text1 --email-text2" \
                            "--read-report --account --email-data2" ;;
            esac ;;
        "mark "*)
            echo "$common --read --unread --status"
            [[ $2 == email ]] && echo "--read-report" ;;
        "empty "*)
            echo "$common"
            [[ $2 == email ]] && echo "--account" ;;
        "refresh "*) echo "$common --all" ;;
        "check "*) echo "$common --fix" ;;
        "import "*) echo "$common --replace" ;;
        "account add") echo "$common --folder --text --data --wdata1 --wdata2" ;;
        "account use") echo "$common --name" ;;
        *) echo "$common" ;;
    esac
}

# Names of directories (-d) or files (-f), quoted as file names when shown.
_msgstore_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$cur")
}

_msgstore() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="init card counters lang ls show add mark mv rm empty count refresh check"
    commands+=" account export import watch"
    local stores="sms mms email"

    # Options that take a value.
    case $prev in
        --root)
            _msgstore_files -d
            return ;;
        --body)
            _msgstore_files -f
            return ;;
        --to | --subject | --text | --time | --status | --msgid | --mms-* | --quick-value | \
            --email-* | --read-report | --account | --folder | --data | --wdata1 | --wdata2 | \
            --name)
            return ;;
    esac

    # The words that are not options: the command, its subcommand, its
    # arguments.
    local words=() i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --root | --body | --to | --subject | --text | --time | --status | --msgid | \
                --mms-text | --mms-value[12] | --mms-wvalue[123] | --mms-wquick[12] | \
                --quick-value | --email-data[12] | --email-text[12] | --read-report | \
                --account | --folder | --data | --wdata[12] | --name)
                ((i++)) ;;
            -*) ;;
            *) words+=("${COMP_WORDS[i]}") ;;
        esac
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_msgstore_options "${words[0]}" "${words[1]}")" -- "$cur")
        return
    fi

    local n=${#words[@]} choices=""
    case ${words[0]} in
        "") choices=$commands ;;
        ls | add | empty)
            if ((n == 1)); then choices=$stores; elif ((n == 2)); then
                choices=$(_msgstore_folders "${words[1]}")
            fi ;;
        show | mark | rm)
            ((n == 1)) && choices=$stores ;;
        mv)
            if ((n == 1)); then choices=$stores; elif ((n == 3)); then
                choices=$(_msgstore_folders "${words[1]}")
            fi ;;
        count | refresh | check)
            ((n == 1)) && choices=$stores ;;
        export) choices="$stores accounts" ;;
        import)
            if ((n == 1)); then
                _msgstore_files -f
                return
            fi ;;
        card) ((n == 1)) && choices="insert eject state" ;;
        counters)
            ((n == 1)) && choices="EmsRecv EmsRead Ems_SDRecv Ems_SDRead SentInSim UnsentInSim" ;;
        account) ((n == 1)) && choices="ls show add rm empty use" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$choices" -- "$cur")
}

complete -F _msgstore msgstore
