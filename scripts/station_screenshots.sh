#!/usr/bin/env bash
# Makes docs/screenshots/station_4.png and station_16.png: quillon-station
# under Xvfb against emulated boxes in other processes, during a run, with
# one failed slot.
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
    exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
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

# The failing slot: a box that rejects record 3, reached through a link of
# our own. Once it has failed, the link goes to a line where no box answers,
# as a failed box waits on the bench for a person: the slot stays red.
failing_slot() {
    local link=$1 box=$1-box silent=$1-silent
    "$CLI" box --link "$box" --reject-record 3 --baud 115200 >"$box.log" 2>&1 &
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
    local link=$1 log=$2
    for _ in $(seq 200); do
        grep -q '"verdict":"failed"' "$log" 2>/dev/null && break
        sleep 0.05
    done
    ln -sfn "$(cat "$link-silent")" "$link"
}

# shot COUNT NAME: a station of COUNT slots, the third one failing.
shot() {
    local count=$1 name=$2
    local ini=$work/station-$count.INI log=$work/log-$count.jsonl
    local groups=(g${count}a g${count}b g${count}c g${count}d)
    local per=$(((count + 3) / 4))
    local timings=("230400 600 2500" "115200 900 3500" "460800 300 5000" "921600 1200 1500")
    for g in 0 1 2 3; do
        read -r baud erase burn <<<"${timings[$g]}"
        boxes "$work/${groups[$g]}-" "$per" "$baud" "$erase" "$burn"
    done
    failing_slot "$work/failing$count"
    {
        echo "[STATION]"
        echo "Name=Bench A"
        echo "[PORTS]"
        for k in $(seq 1 "$count"); do
            local g=$(((k - 1) % 4)) n=$(((k - 1) / 4))
            if [ "$k" -eq 3 ]; then
                echo "COM$k=$work/failing$count"
            else
                echo "COM$k=$work/${groups[$g]}-$n"
            fi
        done
        echo "[SLOTS]"
        for k in $(seq 1 "$count"); do echo "COM$k=Bay $k"; done
    } >"$ini"
    QT_QPA_PLATFORM=xcb "$BUILD_DIR/bin/quillon-station" --settings "$ini" --port "1-$count" \
        --boot-folder "$work/boot" --log "$log" &
    local station=$!
    pids+=("$station")
    fail_over "$work/failing$count" "$log"
    local window
    window=$(xdotool search --sync --onlyvisible --name '^quillon-station' | head -1)
    sleep 9
    import -window "$window" "$OUT/$name"
    kill "$station"
    wait "$station" || true
}

mkdir -p "$OUT"
shot 4 station_4.png
shot 16 station_16.png
echo "Wrote $OUT/station_4.png and station_16.png"
