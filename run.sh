#!/usr/bin/env bash
# Set-up, build and the two main jobs on a fresh Debian 12 machine.
#   ./run.sh demo   a whole update against the built-in box emulator
#   ./run.sh test   every test
#   ./run.sh package  a Debian package (.deb, and -dbgsym .ddeb) of the programs, in
#                     build/package/, checked by lintian and hardening-check
#   ./run.sh windows  the Windows build of the core and quillon-cli, in build-win/, tested
#                     under Wine against the Linux box emulator
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev qt6-base-dev qt6-svg-dev libqt6svg6 clang libclang-rt-14-dev
          help2man dpkg-dev libssl-dev nlohmann-json3-dev prometheus-cpp-dev)
# Prometheus' server and promtool, with which the tests check a station's
# metrics and the alert rules (a server of their own, on loopback):
# installed without the node exporter it recommends and without starting
# its service, so that no server of the package's listens here.
QUIET_PACKAGES=(prometheus)
# The cross compiler and Wine, for ./run.sh windows only; the locales'
# sources, from which its tests make the Russian and Japanese locales.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 locales)
# Debian's checkers of a package (hardening-check is in devscripts), for
# ./run.sh package only.
PACKAGE_PACKAGES=(lintian devscripts)
# QUILLON_BUILD_DIR, QUILLON_CMAKE_ARGS and QUILLON_CTEST_ARGS let CI's
# sanitizer runs use their own build folders, options and test selection.
BUILD_DIR=${QUILLON_BUILD_DIR:-build}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_of() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            echo "$package"
    done
}

# Debian starts a package's service as it installs it unless policy-rc.d
# forbids it (exit 101): one is put in place for the install, where a
# container's is not already there.
install_without_services() {
    local policy=/usr/sbin/policy-rc.d status=0
    if [ -e "$policy" ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
            --no-install-recommends "$@" >/dev/null
        return
    fi
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$policy" >/dev/null
    as_root chmod 755 "$policy"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "$@" >/dev/null || status=$?
    as_root rm -f "$policy"
    return $status
}

install_missing() {
    local missing quiet
    mapfile -t missing < <(missing_of "${PACKAGES[@]}")
    mapfile -t quiet < <(missing_of "${QUIET_PACKAGES[@]}")
    if [ ${#missing[@]} -gt 0 ] || [ ${#quiet[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]} ${quiet[*]}"
        as_root apt-get update -qq
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    if [ ${#quiet[@]} -gt 0 ]; then
        install_without_services "${quiet[@]}"
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
    echo
    echo "Two boxes at once from one build of the series, each without power until the"
    echo "station's reset command names it, with a record of each box:"
    : >"$work/resets"
    "$BUILD_DIR/bin/quillon-cli" flash --simulate --boxes 2 --progress plain \
        --wait-reset "$work/resets" --reset-command "echo {device} >> $work/resets" \
        --boot-folder "$work/boot" --settings "$work/quillon.INI" --log "$work/results.jsonl" |
        tail -n 3
    echo
    echo "The shift's report from that log:"
    "$BUILD_DIR/bin/quillon-cli" report "$work/results.jsonl"
}

# Wine in a prefix of our own, its server started here and not by the first
# program: a server that starts itself leads a session of its own, takes the
# box's pty as its controlling terminal and is hung up with it. In the
# foreground of this session it cannot, and it lives until it is told to end.
start_wine() {
    export WINEPREFIX=$PWD/build-win/wine WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install .NET or a browser
    wineserver -k 2>/dev/null || true            # one left by a run that was killed
    mkdir -p "$WINEPREFIX"
    wineserver -f -p &
    trap 'wineserver -k 2>/dev/null || true' EXIT
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix build-win/wine (once)"
        # Its notes on the parts a 64-bit-only Wine lacks are no failure.
        wine wineboot --init >build-win/wine-boot.log 2>&1 || {
            cat build-win/wine-boot.log
            return 1
        }
    fi
    # Temporary folders on the drive of the programs (Z:), as on a Windows
    # machine with one disk: a test expresses one folder relative to the other.
    local temp=$PWD/build-win/wine-temp
    mkdir -p "$temp"
    for name in TEMP TMP; do
        wine reg add 'HKCU\Environment' /v "$name" /d "Z:${temp//\//\\}" /f >/dev/null
    done
}

# GoogleTest built for Windows from Debian's sources, once; CLI11 and
# nlohmann-json are headers only, the same on both systems. The latter's
# CMake package finds its headers beside itself, so both are linked in.
windows_dependencies() {
    local deps=$PWD/build-win/deps
    if [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
        cmake -S /usr/src/googletest -B build-win/googletest -G Ninja -DBUILD_GMOCK=OFF \
            -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" >/dev/null
        cmake --build build-win/googletest -j2
        cmake --install build-win/googletest >/dev/null
    fi
    mkdir -p "$deps/include"
    ln -sfn /usr/include/CLI "$deps/include/CLI"
    ln -sfn /usr/include/nlohmann "$deps/include/nlohmann"
    mkdir -p "$deps/share/cmake"
    ln -sfn /usr/share/cmake/nlohmann_json "$deps/share/cmake/nlohmann_json"
    # Wine takes its ANSI code page from the locale (1251, 932): compiled
    # here, once, not into the system's own locales.
    local name
    mkdir -p build-win/locale
    for name in ru_RU ja_JP; do
        [ -d "build-win/locale/$name.UTF-8" ] ||
            localedef -i "$name" -f UTF-8 "build-win/locale/$name.UTF-8"
    done
}

windows() {
    # The Linux box emulator, which the Windows tool updates.
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_WERROR=ON \
        ${QUILLON_CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR" -j2 --target quillon-cli
    windows_dependencies
    start_wine
    # Debian has no Qt for mingw: the window is not built here. The Linux
    # build's -O2 without its debug information, which would only slow the
    # link (and -O3 has GCC 12 warn wrongly inside std::string).
    local toolchain=()  # taken at the first configuration only
    [ -f build-win/CMakeCache.txt ] ||
        toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake")
    cmake -S . -B build-win -G Ninja "${toolchain[@]}" \
        -DQUILLON_WIN_DEPS="$PWD/build-win/deps" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUILLON_WERROR=ON -DQUILLON_BUILD_GUI=OFF \
        >/dev/null
    cmake --build build-win -j2
    ctest --test-dir build-win --output-on-failure -j2
    tests/windows/update_under_wine.sh build-win/bin/quillon-cli.exe "$BUILD_DIR/bin/quillon-cli" \
        build-win/locale
}

# The packages as Debian checks them: lintian finds no error and no
# warning in either, and every program has the hardening flags.
# hardening-check's test of control-flow protection is left out: Debian 12's
# own startup files (crt1.o, crti.o, crtn.o of libc6-dev) carry no CET note,
# so the linker marks no program of this system, ours included; that our
# code is built for it is checked by its end-branch instructions instead.
check_package() {
    local deb debug program
    deb=$(ls -t "$BUILD_DIR"/package/quillon_*.deb | head -n 1)
    debug=$BUILD_DIR/package/quillon-dbgsym_${deb##*/quillon_}
    lintian --fail-on error,warning "$deb" "${debug%.deb}.ddeb"
    UNPACKED=$(mktemp -d)
    trap 'rm -rf "$UNPACKED"' EXIT
    dpkg-deb -x "$deb" "$UNPACKED"
    for program in "$UNPACKED"/usr/bin/*; do
        hardening-check --nocfprotection "$program"
        objdump -d "$program" | grep -c endbr64 >/dev/null || {
            echo "$program: not built with -fcf-protection" >&2
            return 1
        }
    done
    ls "$deb" "${debug%.deb}.ddeb"
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
        PACKAGES+=("${PACKAGE_PACKAGES[@]}")
        install_missing
        configure_and_build
        (cd "$BUILD_DIR" && cpack -G DEB)
        check_package
        ;;
    windows)
        PACKAGES+=("${WINDOWS_PACKAGES[@]}")
        install_missing
        windows
        ;;
    *)
        echo "usage: $0 demo|test|package|windows" >&2
        exit 2
        ;;
esac
