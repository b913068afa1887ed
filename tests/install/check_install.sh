#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a user gets: the
# programs with a manual page each (and one per command of quillon-cli),
# the settings file's page, the completion, each window's desktop entry and
# icon, the package's documents, the fleet's alert rules and dashboard, and
# a station service that systemd takes.
#   check_install.sh BUILD_DIR [FILE...]   FILE: more that must be there
set -euo pipefail
build=$1
shift
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
missing=0
need() {
    if [ ! -f "$prefix/$1" ]; then
        echo "not installed: $1"
        missing=1
    fi
}

unit=lib/systemd/system/quillon-station@.service
for file in bin/quillon-cli share/man/man5/quillon.INI.5.gz \
            share/bash-completion/completions/quillon-cli share/doc/quillon/copyright \
            share/doc/quillon/changelog.gz "$unit" lib/sysusers.d/quillon.conf \
            share/quillon/prometheus/quillon.rules.yml share/quillon/grafana/quillon.json \
            lib/udev/rules.d/60-quillon-latency-timer.rules "$@"; do
    need "$file"
done
for program in "$prefix"/bin/*; do
    need "share/man/man1/${program##*/}.1.gz"
done
for command in $("$prefix/bin/quillon-cli" --help | awk '/^Subcommands:/ { on = 1; next }
                                                        on && /^  [a-z]/ { print $1 }
                                                        on && /^$/ { on = 0 }'); do
    need "share/man/man1/quillon-cli-$command.1.gz"
done

# A menu shows an entry only when its program and icon are there.
for entry in "$prefix"/share/applications/*.desktop; do
    [ -f "$entry" ] || continue
    need "bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
    need "share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$entry").svg"
    grep -q '^Keywords=.' "$entry" || { echo "no Keywords: ${entry##*/}"; missing=1; }
done

# systemd reads the unit as it would on the target (a warning is a fault,
# although verify ends with 0 then), with its program and pages from here.
if command -v systemd-analyze >/dev/null && [ -f "$prefix/$unit" ]; then
    mkdir "$prefix/units"
    sed "s|/usr/bin/|$prefix/bin/|" "$prefix/$unit" >"$prefix/units/${unit##*/}"
    manual=--man=yes
    command -v man >/dev/null || manual=--man=no
    if ! found=$(MANPATH=$prefix/share/man systemd-analyze "$manual" verify \
                 "$prefix/units/${unit##*/}" 2>&1) || [ -n "$found" ]; then
        echo "systemd-analyze verify: $found"
        missing=1
    fi
    # The sandbox keeps its rating: 4.0 (OK) at most.
    if ! found=$(systemd-analyze security --offline=true --threshold=40 \
                 "$prefix/units/${unit##*/}" 2>&1); then
        echo "systemd-analyze security: $(tail -n 1 <<<"$found")"
        missing=1
    fi
else
    echo "note: systemd-analyze is not installed; the unit was not verified"
fi
"$prefix/bin/quillon-cli" --version
exit $missing
