#!/usr/bin/env bash
# A whole update by the Windows build under Wine, against the Linux box
# emulator on a pseudo-terminal that the prefix knows as COM5: a success and
# two faults, each checked for its exit code, its last line and the packet
# files it must not leave.
#   tests/windows/update_under_wine.sh WINDOWS_QUILLON_CLI LINUX_QUILLON_CLI
# WINEPREFIX names a prefix of our own, whose wineserver is running.
set -uo pipefail
cd "$(dirname "$0")/../.."

WIN_CLI=$1
BOX_CLI=$2
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

# run_case NAME EXIT_CODE LAST_LINE BOX_SUMMARY_PART [box fault options...]
run_case() {
    CASE=$1
    local want_code=$2 want_last=$3 want_box=$4
    shift 4
    local dir=$WORK/$CASE
    mkdir -p "$dir"
    cp -r examples/boot "$dir/boot"
    rm -f "$LINK"
    "$BOX_CLI" box --link "$LINK" "$@" >"$dir/box.out" 2>&1 &
    BOX_PID=$!
    for _ in $(seq 100); do
        [ -L "$LINK" ] && break
        sleep 0.05
    done
    # No settings file: port 5 is \\.\COM5, whatever the build folder holds.
    timeout 60 wine "$WIN_CLI" flash --port "$PORT" --boot-folder "$(windows_path "$dir/boot")" \
        --settings "$(windows_path "$dir/none.INI")" --progress plain --wait-timeout 20 \
        >"$dir/out" 2>"$dir/err"
    local code=$?
    stop_box
    local last
    last=$(tail -n 1 "$dir/out" | tr -d '\r')
    [ "$code" -eq "$want_code" ] || fail "exit code $code, not $want_code"
    [ "$last" = "$want_last" ] || fail "last line '$last', not '$want_last'"
    grep -q -- "$want_box" "$dir/box.out" || fail "the box did not report '$want_box'"
    if ls "$dir/boot" | grep -Eq '^[0-9]{4,}$|^\.quillon\.lock$'; then
        fail "left behind: $(ls -A "$dir/boot" | grep -E '^[0-9]{4,}$|^\.quillon\.lock$' | xargs)"
    fi
    if [ "$failures" -gt 0 ]; then
        echo "--- $CASE: quillon-cli.exe's output"
        cat "$dir/out" "$dir/err"
        echo "--- the box"
        cat "$dir/box.out"
    else
        echo "ok   $CASE: exit $code, \"$last\""
    fi
}

CONNECTION="Download Failed CheckSum/Timeout: Please check your serial connection"
run_case success 0 "Success: Successful to update flash! STB has restarted " "0 rejected"
[ "$failures" -eq 0 ] && run_case rejected-record 4 "$CONNECTION" "1 rejected" --reject-record 3
[ "$failures" -eq 0 ] && run_case hang-up 4 "$CONNECTION" "hung up on request" --hang-up-after 4
exit $((failures > 0))
