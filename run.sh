#!/usr/bin/env bash
# Set-up, build and the two main jobs on a fresh Debian 12 machine.
#   ./run.sh demo   a whole update against the built-in box emulator
#   ./run.sh test   every test
#   ./run.sh package  a Debian package (.deb) of both programs, in build/package/
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev qt6-base-dev qt6-svg-dev libqt6svg6 clang libclang-rt-14-dev
          help2man dpkg-dev)
# QUILLON_BUILD_DIR, QUILLON_CMAKE_ARGS and QUILLON_CTEST_ARGS let CI's
# sanitizer runs use their own build folders, options and test selection.
BUILD_DIR=${QUILLON_BUILD_DIR:-build}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

configure_and_build() {
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON \
        ${QUILLON_CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR"
}

demo() {
    DEMO_DIR=$(mktemp -d)
    trap 'rm -rf "$DEMO_DIR"' EXIT
    local work=$DEMO_DIR
    cp -r examples/boot "$work/boot"
    echo "A whole update of a copy of examples/boot against the built-in box emulator:"
    "$BUILD_DIR/bin/quillon-cli" flash --simulate --boot-folder "$work/boot" \
        --settings "$work/quillon.INI" --trace "$work/trace.txt"
    echo
    echo "The line, as the trace recorded it (first lines):"
    head -n 12 "$work/trace.txt"
    echo "Files in the boot folder afterwards (no packet file is left):"
    ls "$work/boot"
}

case "${1:-}" in
    demo)
        install_missing
        configure_and_build
        demo
        ;;
    test)
        install_missing
        configure_and_build
        ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 ${QUILLON_CTEST_ARGS:-}
        ;;
    package)
        install_missing
        configure_and_build
        (cd "$BUILD_DIR" && cpack -G DEB)
        ls "$BUILD_DIR"/package/*.deb
        ;;
    *)
        echo "usage: $0 demo|test|package" >&2
        exit 2
        ;;
esac
