#!/usr/bin/env bash
# Every option that quillon-cli's --help, or a command's, lists has its
# entry in that page, and every page has the sections a reader looks for.
#   check_manual_pages.sh QUILLON_CLI PAGE_FOLDER
set -euo pipefail
cli=$1
pages=$2
failed=0
fail() {
    echo "$1"
    failed=1
}

check() {
    local name=$1 page=$2/$1.1.gz
    shift 2
    if [ ! -f "$page" ]; then
        fail "$name: no manual page (res/man/cli_pages.sh makes one for every command)"
        return
    fi
    local text option section
    text=$(zcat "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g')
    for option in $("$cli" "$@" --help | grep -oE '^ +(-[a-zA-Z], ?)?--[a-z][a-z-]*' |
                    grep -oE -- '--[a-z-]+'); do
        grep -qE -- "^(-[a-zA-Z], )?$option( |$)" <<<"$text" ||
            fail "$name: $option has no entry"
    done
    for section in '"EXIT STATUS"' ENVIRONMENT FILES EXAMPLES; do
        grep -qx ".SH $section" <<<"$text" ||
            fail "$name: no $section section (res/man/$name.h2m gives what --help lacks)"
    done
}

check quillon-cli "$pages"
for command in $("$cli" --help | awk '/^Subcommands:/ { on = 1; next }
                                     on && /^  [a-z]/ { print $1 }
                                     on && /^$/ { on = 0 }'); do
    check "quillon-cli-$command" "$pages" "$command"
done
exit $failed
