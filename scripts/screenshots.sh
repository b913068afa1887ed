#!/usr/bin/env bash
# Makes docs/screenshots/ by running the real window program under Xvfb
# against the box emulator: the main window idle, while burning, and the
# System Setting dialog.
#   scripts/screenshots.sh [BUILD_DIR]
# Needs xvfb, xdotool and ImageMagick's import (apt-get install xvfb xdotool imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${1:-build}
OUT=$ROOT/docs/screenshots

if [ -z "${QUILLON_SCREENSHOT_INNER:-}" ]; then
    for tool in xvfb-run xdotool import; do
        command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
    done
    export QUILLON_SCREENSHOT_INNER=1
    exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The window program reads quillon.INI beside itself, so it runs from a copy.
mkdir -p "$work/bin"
cp "$BUILD_DIR/bin/quillon" "$work/bin/quillon"
cp -r examples/boot "$work/boot"

# A slow burn, so the window can be caught in the middle of it.
"$BUILD_DIR/bin/quillon-cli" box --link "$work/box" --erase-ms 1500 --sector-size 4 \
    --burn-ms 12000 >"$work/box.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/box" ] && break; sleep 0.1; done

cat >"$work/bin/quillon.INI" <<INI
[BOOT]
PathToBootFiles=$work/boot/
[COMMON]
LastDevice=1
[PORTS]
COM1=$work/box
INI

QT_QPA_PLATFORM=xcb "$work/bin/quillon" &
pids+=($!)
main=$(xdotool search --sync --onlyvisible --name '^Quillon$' | head -1)
sleep 1
mkdir -p "$OUT"
import -window "$main" "$OUT/main_idle.png"

# "Update": the button's centre in the window (menu bar above the client area).
xdotool mousemove --window "$main" 87 205 click 1
# Downloading takes a moment, erasing 1.5 s; then the box burns for 12 s.
sleep 5
import -window "$main" "$OUT/main_burning.png"

# Wait for the verdict and close it.
box=$(xdotool search --sync --onlyvisible --name '^Success$' | head -1)
xdotool windowfocus --sync "$box" key Return
sleep 0.5

# System Setting, from the menu "Setting".
xdotool mousemove --window "$main" 25 11 click 1
sleep 0.5
xdotool key Down Return
settings=$(xdotool search --sync --onlyvisible --name '^System Setting$' | head -1)
sleep 0.5
import -window "$settings" "$OUT/settings.png"
xdotool windowfocus --sync "$settings" key Escape
echo "Wrote $OUT/main_idle.png, main_burning.png and settings.png"
