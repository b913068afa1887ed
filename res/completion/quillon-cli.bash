# bash completion for quillon-cli
_quillon_cli() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD-1]}
    local commands="flash pack inspect box ports report"
    local box="--reject-record --silent-record --no-handshake-verdict --silent-after-exec
               --report-failure --noise --partial-frames --hang-up-after --sector-size
               --erase-ms --burn-ms --dump --wait-reset"
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$current"))
        return
    fi
    case "$previous" in
        --device) COMPREPLY=($(compgen -f -- "${current:-/dev/tty}")); return ;;
        --boot-folder|--dump|--trace-dir) COMPREPLY=($(compgen -d -- "$current")); return ;;
        --settings|--project|--image|--trace|--link|--log|--wait-reset)
            COMPREPLY=($(compgen -f -- "$current")); return ;;
        --progress) COMPREPLY=($(compgen -W "auto human plain jsonl journal" -- "$current")); return ;;
        --trace-keep) COMPREPLY=($(compgen -W "all failed" -- "$current")); return ;;
        --format) COMPREPLY=($(compgen -W "text json csv" -- "$current")); return ;;
        --baud) COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200 230400 460800 921600" -- "$current")); return ;;
    esac
    local options
    case "${COMP_WORDS[1]}" in
        flash) options="--device --port --baud --boot-folder --start-address --settings --project
                        --image --simulate --boxes --trace --trace-dir --trace-keep --trace-dir-max
                        --progress --wait-timeout
                        --repeat --count --log --expect-series --reset-command --reset-timeout
                        --metrics $box" ;;
        pack) options="--boot-folder --project --image" ;;
        box) options="--device --link --baud --count --on $box" ;;
        ports) options="--settings --watch" ;;
        report) options="--since --until --lot --operator --format"
                [[ $current != -* ]] && { COMPREPLY=($(compgen -f -- "$current")); return; } ;;
        inspect) COMPREPLY=($(compgen -f -- "$current")); return ;;
    esac
    COMPREPLY=($(compgen -W "$options --help" -- "$current"))
}
complete -F _quillon_cli quillon-cli
