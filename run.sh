#!/usr/bin/env bash
# Set-up, build and the two main jobs on a fresh Debian 12 machine.
#   ./run.sh demo   a whole update against the built-in box emulator
#   ./run.sh test   every test
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev qt6-base-dev qt6-svg-dev libqt6svg6)
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
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cp -r examples/boot "$work/boot"
    "$BUILD_DIR/bin/quillon-cli" pack --boot-folder "$work/boot/"
    echo "Packet files left in the copy of examples/boot:"
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
        ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
        ;;
    *)
        echo "usage: $0 demo|test" >&2
        exit 2
        ;;
esac
