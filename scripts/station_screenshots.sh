#!/usr/bin/env bash
# Makes docs/screenshots/station_4.png and station_32.png: quillon-station
# under Xvfb on a 1920x1080 screen against emulated boxes in other
# processes, during a run. The 32 slots are "Rack A pos 01" to "Rack D pos
# 08", with two failed slots and one held for a new box.
#   scripts/station_screenshots.sh [BUILD_DIR]
# Needs xvfb, xdotool and ImageMagick's import (apt-get install xvfb xdotool imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${1:-build}
case $BUILD_DIR in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
OUT=$ROOT/docs/screenshots

if [ -z "${QUILLON_SCREENSHOT_INNER:-}" ]; then
    for tool in xvfb-run xdotool import python3; do
        command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
    done
    export QUILLON_SCREENSHOT_INNER=1
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"
fi

CLI=$BUILD_DIR/bin/quillon-cli
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A boot folder of some size, so that the bars and the time left move.
mkdir -p "$work/boot"
cp examples/boot/c_bus.txt "$work/boot/"
{
    echo 80000000
    for i in 1 2 3 4 5 6; do
        head -c 16384 /dev/urandom >"$work/boot/part$i.bin"
        echo "part$i.bin"
    done
} >"$work/boot/init_uploads.txt"

wait_for() { for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done; return 1; }

# Groups of boxes that take bytes at different rates and erase and burn
# for different times, so that the slots drift apart.
boxes() {
    local prefix=$1 count=$2 baud=$3 erase=$4 burn=$5
    "$CLI" box --count "$count" --link "$prefix" --baud "$baud" --erase-ms "$erase" \
        --burn-ms "$burn" --sector-size 4096 >"$prefix.log" 2>&1 &
    pids+=($!)
    wait_for "$prefix$((count - 1))"
}

# A failing slot: a box with the given fault, reached through a link of our
# own. Once it has failed, the link goes to a line where no box answers, as
# a failed box waits on the bench for a person: the slot stays red.
failing_slot() {
    local link=$1 box=$1-box silent=$1-silent
    shift
    "$CLI" box --link "$box" --baud 115200 "$@" >"$box.log" 2>&1 &
    pids+=($!)
    wait_for "$box"
    ln -sfn "$(readlink "$box")" "$link"
    python3 -c 'import os, pty, sys, time
master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
os.close(slave)
time.sleep(3600)' >"$silent" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$silent" ] && break; sleep 0.05; done
}

fail_over() {
    local link=$1 log=$2 slot=$3
    for _ in $(seq 300); do
        grep -q "\"slot\":\"$slot\".*\"verdict\":\"failed\"" "$log" 2>/dev/null && break
        sleep 0.05
    done
    ln -sfn "$(cat "$link-silent")" "$link"
}

# The slot's name: "Rack A pos 01" for the first, "Rack D pos 08" for the 32nd.
slot_name() {
    local k=$1 per=$2
    local racks=(A B C D)
    printf 'Rack %s pos %02d' "${racks[$(((k - 1) / per))]}" $(((k - 1) % per + 1))
}

# shot COUNT NAME: a station of COUNT slots in four racks; at 32 slots the
# third and the twentieth fail and the twenty-seventh is held.
shot() {
    local count=$1 name=$2
    local ini=$work/station-$count.INI log=$work/log-$count.jsonl
    local groups=(g${count}a g${count}b g${count}c g${count}d)
    local per=$(((count + 3) / 4))
    local timings=("230400 600 2500" "115200 900 3500" "460800 300 5000" "921600 1200 1500")
    local failing=(3) held=0
    if [ "$count" -ge 32 ]; then failing=(3 20); held=27; fi
    for g in 0 1 2 3; do
        read -r baud erase burn <<<"${timings[$g]}"
        boxes "$work/${groups[$g]}-" "$per" "$baud" "$erase" "$burn"
    done
    failing_slot "$work/fail$count-3" --reject-record 3
    [ "$count" -ge 32 ] && failing_slot "$work/fail$count-20" --silent-record 4
    [ "$held" -gt 0 ] && failing_slot "$work/fail$count-$held" --report-failure
    {
        echo "[STATION]"
        echo "Name=Bench A"
        echo "Operator=ana"
        echo "Lot=L-0457"
        echo "BoxIdCommand=echo SN-\$(od -An -N2 -tu2 /dev/urandom | tr -d ' ')"
        echo "[PORTS]"
        for k in $(seq 1 "$count"); do
            local g=$(((k - 1) % 4)) n=$(((k - 1) / 4))
            if [ -e "$work/fail$count-$k-box" ]; then
                echo "COM$k=$work/fail$count-$k"
            else
                echo "COM$k=$work/${groups[$g]}-$n"
            fi
        done
        echo "[SLOTS]"
        for k in $(seq 1 "$count"); do echo "COM$k=$(slot_name "$k" "$per")"; done
        # The held slot powers its box itself, and holds a spent one.
        [ "$held" -gt 0 ] && printf '[RESET]\nCOM%s=true\n' "$held"
    } >"$ini"
    QT_QPA_PLATFORM=xcb "$BUILD_DIR/bin/quillon-station" --settings "$ini" --port "1-$count" \
        --boot-folder "$work/boot" --log "$log" &
    local station=$!
    pids+=("$station")
    local window
    window=$(xdotool search --sync --onlyvisible --name '^quillon-station' | head -1)
    xdotool windowmove "$window" 0 0 windowsize "$window" 1920 1080
    fail_over "$work/fail$count-3" "$log" "$(slot_name 3 "$per")"
    [ "$count" -ge 32 ] && fail_over "$work/fail$count-20" "$log" "$(slot_name 20 "$per")"
    sleep 9
    import -window "$window" "$OUT/$name"
    kill "$station"
    wait "$station" || true
}

mkdir -p "$OUT"
shot 4 station_4.png
shot 32 station_32.png
echo "Wrote $OUT/station_4.png and station_32.png"
