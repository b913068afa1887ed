#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that a user gets both
# programs, their manual pages, the completion and the desktop entry.
set -euo pipefail
build=$1
shift
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
missing=0
for file in bin/quillon-cli share/man/man1/quillon-cli.1.gz \
            share/bash-completion/completions/quillon-cli "$@"; do
    if [ ! -f "$prefix/$file" ]; then
        echo "not installed: $file"
        missing=1
    fi
done
"$prefix/bin/quillon-cli" --version
exit $missing
