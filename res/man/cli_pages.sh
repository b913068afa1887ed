#!/usr/bin/env bash
# The manual pages of quillon-cli: quillon-cli(1) and quillon-cli-COMMAND(1)
# for every command that `quillon-cli --help` lists, each made by help2man
# from that command's --help, so that no option is missing from its page.
# res/man/quillon-cli-COMMAND.h2m adds what --help leaves out (the longer
# description, examples); cli-common.h2m the environment and files.
#   cli_pages.sh QUILLON_CLI SOURCE_FOLDER OUTPUT_FOLDER
set -euo pipefail
cli=$1
source=$2
out=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

commands=$("$cli" --help | awk '/^Subcommands:/ { on = 1; next }
                                 on && /^  [a-z]/ { print $1 }
                                 on && /^$/ { on = 0 }')

# help2man reads the sections it knows from the text: the command list and
# the exit codes become sections of their own, and the arguments join the
# options.
sections() {
    awk 'NR == 1 && sub(/^quillon-cli: /, "") { $0 = toupper(substr($0, 1, 1)) substr($0, 2) }
         /^  -[a-zA-Z],--/ { sub(/,--/, ", --"); sub(/   /, "  ") }
         /^Subcommands:$/ { print "*Commands*"; print ""; next }
         /^Positionals:$/ { print "Options:"; positionals = 1; next }
         /^Options:$/ && positionals { next }
         /^Exit codes/ { print ""; print "*Exit status*"; print ""; exits = 1
                         if ($0 == "Exit codes:") next }
         # A code is a tag when two spaces follow it, as "129 cancelled" has not.
         exits && /^  [0-9]+ [^ ]/ { $0 = "  " $1 "  " substr($0, length($1) + 4) }
         { print }'
}

# The name line is the command's line in `quillon-cli --help`, the synopsis
# its usage line.
summary_of() {
    if [ -z "$1" ]; then
        "$cli" --help | sed -n '1s/^[^:]*: *//p'
    else
        "$cli" --help | awk -v command="$1" '$1 == command { $1 = ""; sub(/^ +/, ""); print }'
    fi | sed 's/^./\L&/'
}

see_also() {
    local page=$1 pages="quillon-cli" command
    for command in $commands; do
        pages+=" quillon-cli-$command"
    done
    for other in $pages; do
        [ "$other" = "$page" ] || printf '.BR %s (1),\n' "${other//-/\\-}"
    done
    printf '.BR quillon.INI (5),\n.BR quillon (1)\n'
}

page() {
    local command=$1 name=quillon-cli${1:+-$1}
    local help=$work/$name.help
    "$cli" $command --help | sections >"$help"
    "$cli" --version >"$work/version"
    # help2man runs a program for the texts; this one hands over those above.
    printf '#!/bin/sh\n[ "$1" = --version ] && exec cat "%s"\nexec cat "%s"\n' \
        "$work/version" "$help" >"$work/$name"
    chmod +x "$work/$name"
    local usage
    usage=$(sed -n 's/^Usage: [^ ]*quillon-cli *//p' "$help" | sed "s/^$command *//")
    {
        printf '[NAME]\n%s \\- %s\n' "${name//-/\\-}" "$(summary_of "$command")"
        # \& keeps help2man from reading "[OPTIONS]" as a section's name.
        printf '[SYNOPSIS]\n.B quillon\\-cli%s\n\\&%s\n' "${command:+ $command}" \
            "$(sed -E 's/([A-Za-z]+)/\\fI\1\\fR/g' <<<"$usage")"
        printf '[SEE ALSO]\n%s\n' "$(see_also "$name")"
    } >"$work/$name.h2m"
    help2man --no-info --section 1 --include "$work/$name.h2m" \
        --include "$source/cli-common.h2m" --opt-include "$source/$name.h2m" \
        --output "$out/$name.1" "$work/$name"
    gzip -n -9 -f "$out/$name.1"
}

mkdir -p "$out"
rm -f "$out"/quillon-cli*.1.gz  # a command that has gone takes its page along
page ""
for command in $commands; do
    page "$command"
done
