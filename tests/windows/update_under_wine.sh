#!/usr/bin/env bash
# Whole updates by the Windows build under Wine, against the Linux box
# emulator on a pseudo-terminal that the prefix knows as COM5: a success and
# two faults, each checked for its exit code, its last line and the packet
# files it must not leave; a port by a name other than COMn, into a boot
# folder with a read-only packet file left behind; boot folders of
# non-ASCII names under Russian and Japanese code pages, from the command
# line and from a settings file, which must send the very series that the
# Linux build makes; a reset command, with a cmd.exe planted in the working
# folder, whose output must come in UTF-8; a missing port, whose reason
# must come in the system's words, in UTF-8; what flash and inspect print
# on a console (a pseudo-terminal); the Win32 unit tests (platform_tests.exe,
# beside the tool) under those code pages; and the DLLs the tool imports.
#   tests/windows/update_under_wine.sh WINDOWS_QUILLON_CLI LINUX_QUILLON_CLI [LOCALE_FOLDER]
# WINEPREFIX names a prefix of our own, whose wineserver is running. Wine
# takes the code page from the locale: LOCALE_FOLDER holds ru_RU.UTF-8 and
# ja_JP.UTF-8 (localedef's output), else those cases are skipped.
set -uo pipefail
cd "$(dirname "$0")/../.."

# Whole paths: a case may run the tool from a folder of its own.
WIN_CLI=$(realpath "$1")
BOX_CLI=$2
LOCALES=${3:+$(realpath "$3")}
: "${WINEPREFIX:?WINEPREFIX must name the prefix to use}"
PORT=5
LINK=$WINEPREFIX/dosdevices/com$PORT
WORK=$(mktemp -d)
BOX_PID=

stop_box() {
    if [ -n "$BOX_PID" ]; then
        kill -INT "$BOX_PID" 2>/dev/null
        wait "$BOX_PID" 2>/dev/null
        BOX_PID=
    fi
}
trap 'stop_box; rm -f "$LINK"; rm -rf "$WORK"' EXIT

# Z:\ is the root of the Linux file system in every prefix.
windows_path() {
    local path=$1
    echo "Z:${path//\//\\}"
}

failures=0
fail() {
    echo "FAIL $CASE: $*"
    failures=$((failures + 1))
}

# Wine in the case's locale: its ANSI code page follows the language (1251, 932).
wine_in_locale() {
    local locale=()
    [ -n "${LOCALE:-}" ] && locale=(LOCPATH="$LOCALES" LC_ALL="$LOCALE")
    timeout 60 env "${locale[@]}" wine "$@"
}

valid_utf8() {
    iconv -f UTF-8 -t UTF-8 "$1" >/dev/null 2>&1
}

# run_case NAME EXIT_CODE LAST_LINE BOX_SUMMARY_PART [box fault options...]
# BOOT names the boot folder (default "boot"), LOCALE the locale Wine runs
# in, and VIA=settings gives the folder in a UTF-8 settings file instead of
# on the command line. DEVICE names the port by another name than COM5,
# LEFTOVER=read-only leaves a read-only packet file in the boot folder, and
# RESET is text that a reset command must say, through the system's
# cmd.exe, not the one planted in the working folder (the tool itself,
# which fails on cmd.exe's options).
run_case() {
    CASE=$1
    local want_code=$2 want_last=$3 want_box=$4
    shift 4
    local dir=$WORK/$CASE
    local boot=$dir/${BOOT:-boot}
    mkdir -p "$dir/dump"
    cp -r examples/boot "$boot"
    if [ "${LEFTOVER:-}" = read-only ]; then
        echo leftover >"$boot/0001"
        chmod a-w "$boot/0001"
    fi
    local folder=(--boot-folder "$(windows_path "$boot")")
    local port=(--port "$PORT")
    local link=$LINK
    local reset=()
    if [ -n "${DEVICE:-}" ]; then
        port=(--device "$DEVICE")
        link=$WINEPREFIX/dosdevices/${DEVICE,,}
    fi
    if [ -n "${RESET:-}" ]; then
        cp "$WIN_CLI" "$dir/cmd.exe"
        reset=(--reset-command "echo $RESET {slot}")
    fi
    if [ "${VIA:-}" = settings ]; then
        # As Notepad saves UTF-8: with a byte-order mark, lines ending in CR LF.
        printf '\xEF\xBB\xBF[BOOT]\r\nPathToBootFiles=%s\r\n' "$(windows_path "$boot")" \
            >"$dir/quillon.INI"
        folder=()
    fi
    rm -f "$link"
    "$BOX_CLI" box --link "$link" --dump "$dir/dump" "$@" >"$dir/box.out" 2>&1 &
    BOX_PID=$!
    for _ in $(seq 100); do
        [ -L "$link" ] && break
        sleep 0.05
    done
    # No settings file unless asked: port 5 is \\.\COM5, whatever the build folder holds.
    (cd "$dir" && wine_in_locale "$WIN_CLI" flash "${port[@]}" "${folder[@]}" "${reset[@]}" \
        --settings "$(windows_path "$dir/quillon.INI")" --progress plain --wait-timeout 20 \
        >"$dir/out" 2>"$dir/err")
    local code=$?
    stop_box
    [ "$link" = "$LINK" ] || rm -f "$link"
    if [ -n "${RESET:-}" ]; then
        grep -qF "] $RESET" "$dir/err" || fail "the reset command did not say '$RESET'"
    fi
    local last
    last=$(tail -n 1 "$dir/out" | tr -d '\r')
    [ "$code" -eq "$want_code" ] || fail "exit code $code, not $want_code"
    [ "$last" = "$want_last" ] || fail "last line '$last', not '$want_last'"
    grep -q -- "$want_box" "$dir/box.out" || fail "the box did not report '$want_box'"
    valid_utf8 "$dir/out" && valid_utf8 "$dir/err" || fail "printed text that is not UTF-8"
    if ls "$boot" | grep -Eq '^[0-9]{4,}$|^\.quillon\.lock$'; then
        fail "left behind: $(ls -A "$boot" | grep -E '^[0-9]{4,}$|^\.quillon\.lock$' | xargs)"
    fi
    report "$dir" "$code" "$last"
}

report() {
    local dir=$1 code=$2 last=$3
    if [ "$failures" -gt 0 ]; then
        echo "--- $CASE: quillon-cli.exe's output"
        cat "$dir/out" "$dir/err"
        [ -f "$dir/box.out" ] && echo "--- the box" && cat "$dir/box.out"
    else
        echo "ok   $CASE: exit $code, \"$last\""
    fi
}

# The records the box took before the final execute command must be the
# series that the Linux build packs from the same files, byte for byte.
check_series() {
    local packed=$WORK/packed
    if [ ! -d "$packed" ]; then
        cp -r examples/boot "$packed"
        "$BOX_CLI" pack --boot-folder "$packed" >/dev/null || fail "the Linux build packs no series"
    fi
    local file
    for file in "$packed"/[0-9][0-9][0-9][0-9]; do
        cmp -s "$file" "$WORK/$CASE/dump/record-$(basename "$file")" ||
            fail "record $(basename "$file") is not the one the Linux build packs"
    done
}

# A port that does not exist: exit 2, and the system's reason, in the
# locale's language, whole in what is printed and in the results log.
missing_port() {
    CASE=missing-port-$LOCALE
    local dir=$WORK/$CASE
    mkdir -p "$dir"
    [ ! -e "$WINEPREFIX/dosdevices/com9" ] || fail "COM9 exists in the prefix"
    wine_in_locale "$WIN_CLI" flash --port 9 --boot-folder "$(windows_path "$PWD/examples/boot")" \
        --settings "$(windows_path "$dir/quillon.INI")" --progress jsonl \
        --log "$(windows_path "$dir/log.jsonl")" >"$dir/out" 2>"$dir/err"
    local code=$?
    [ "$code" -eq 2 ] || fail "exit code $code, not 2"
    for file in out err log.jsonl; do
        [ -f "$dir/$file" ] || continue
        valid_utf8 "$dir/$file" || fail "$file is not UTF-8"
    done
    grep -qP '[^\x00-\x7F]' "$dir/out" || fail "no reason in the locale's language"
    report "$dir" "$code" "$(grep -o 'COM9: [^\]*' "$dir/out")"
}

# What flash and inspect print, on a console: Wine's console on a
# pseudo-terminal, which shows in the locale's code page what a program
# writes as bytes. The boot folder's name must come whole, whatever the
# code page holds of it.
console_output() {
    CASE=console-$LOCALE
    local dir=$WORK/$CASE
    local boot=$dir/$BOOT
    mkdir -p "$boot"
    cp "$WORK/packed/0001" "$boot/0001"
    local folder
    folder=$(windows_path "$boot")
    local command
    command="stty cols 500; wine '$WIN_CLI' flash --port 9 --boot-folder '$folder'"
    command+=" --settings '$(windows_path "$dir/quillon.INI")'; wine '$WIN_CLI' inspect '$folder\0001'"
    LOCPATH="$LOCALES" LC_ALL="$LOCALE" timeout 60 script -qec "$command" /dev/null \
        </dev/null >"$dir/console" 2>&1
    # What the console draws, without its escape sequences and CRs.
    sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$dir/console" | tr -d '\r' >"$dir/out"
    [ "$(grep -cF "$folder" "$dir/out")" -ge 2 ] || fail "the boot folder's name is not shown whole"
    report "$dir" 0 "$(grep -m 1 -oF "$folder" "$dir/out")"
}

# The Win32 unit tests, which carry no manifest, again under this code page.
win32_tests() {
    CASE=win32-tests-$LOCALE
    local out=$WORK/$CASE.out
    if wine_in_locale "$(dirname "$WIN_CLI")/platform_tests.exe" --gtest_filter='Win32*' \
        "Прошивка ブート Zoë" >"$out" 2>&1; then
        echo "ok   $CASE"
    else
        fail "the Win32 tests failed"
        cat "$out"
    fi
}

# A console program that loads user32 (winmm, SetupAPI and shell32 bring
# it) is no longer told of logging off or shutting down, and could not
# clean up then: nothing of the kind is imported; SetupAPI is loaded only
# to list ports.
imports() {
    CASE=imports
    local found
    found=$(x86_64-w64-mingw32-objdump -p "$WIN_CLI" | grep -ioE \
        'DLL Name: (user32|gdi32|winmm|shell32|setupapi|comdlg32|ole32)\.dll')
    [ -z "$found" ] || fail "imports $found"
    [ "$failures" -gt 0 ] || echo "ok   $CASE: nothing that loads user32"
}

CONNECTION="Download Failed CheckSum/Timeout: Please check your serial connection"
SUCCESS="Success: Successful to update flash! STB has restarted "
imports
[ "$failures" -eq 0 ] && run_case success 0 "$SUCCESS" "0 rejected"
[ "$failures" -eq 0 ] && check_series
[ "$failures" -eq 0 ] && run_case rejected-record 4 "$CONNECTION" "1 rejected" --reject-record 3
[ "$failures" -eq 0 ] && run_case hang-up 4 "$CONNECTION" "hung up on request" --hang-up-after 4
[ "$failures" -eq 0 ] && DEVICE=CNCA0 LEFTOVER=read-only run_case named-port 0 "$SUCCESS" "0 rejected"

if [ -z "$LOCALES" ]; then
    echo "skip non-ASCII names and code pages: no locale folder given"
    exit $((failures > 0))
fi
for LOCALE in ru_RU.UTF-8 ja_JP.UTF-8; do
    case $LOCALE in
        ru*) BOOT="Прошивка Zoë" said="Сброс" ;;
        ja*) BOOT="ブート Zoë" said="リセット" ;;
    esac
    for VIA in command-line settings; do
        [ "$failures" -eq 0 ] && BOOT=$BOOT LOCALE=$LOCALE VIA=$VIA \
            run_case "$VIA-${LOCALE%%_*}" 0 "$SUCCESS" "0 rejected"
        [ "$failures" -eq 0 ] && check_series
    done
    [ "$failures" -eq 0 ] && LOCALE=$LOCALE RESET=$said run_case "reset-${LOCALE%%_*}" 0 "$SUCCESS" \
        "0 rejected"
    [ "$failures" -eq 0 ] && missing_port
    [ "$failures" -eq 0 ] && console_output
    [ "$failures" -eq 0 ] && win32_tests
done
exit $((failures > 0))
