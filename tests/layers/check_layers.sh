#!/usr/bin/env bash
# Fails when a file includes from a layer above its own, when the window and
# the command line include each other, or when anything above platform/
# includes a system header (<unistd.h>, <windows.h>, <sys/...>, ...) or
# <filesystem>: the system is reached through platform/ only.
#   check_layers.sh PROJECT_SOURCE_DIR
set -uo pipefail
cd "$1"

# The order of layers: each may include its own and those of a lower rank.
declare -A rank=([platform]=0 [initfiles]=1 [engine]=2 [sim]=3 [settings]=3 [station]=4
                 [app]=5 [cli]=5 [station_window]=5)
# The faces that stand side by side and never include each other.
declare -A face=([app]=1 [cli]=1 [station_window]=1)
# Headers of the compiler's own (ThreadSanitizer's annotations) and of prometheus-cpp, a
# library, are no system calls.
allowed_system='^(sanitizer/|prometheus/)'

failed=0
for layer in "${!rank[@]}"; do
    [ -d "$layer" ] || continue
    while IFS= read -r file; do
        while IFS= read -r line; do
            included=$(sed -E 's/^#include [<"]([^>"]+)[>"].*/\1/' <<<"$line")
            top=${included%%/*}
            if [[ $line == *'"'* && -n ${rank[$top]+x} && $top != "$layer" ]]; then
                if (( rank[$top] > rank[$layer] )) || [[ -n ${face[$top]+x} && -n ${face[$layer]+x} ]]; then
                    echo "$file: $layer includes $included, from a layer above or beside it"
                    failed=1
                fi
            fi
            if [[ $layer != platform && $line == *'<'* && $included == *.h &&
                  ! $included =~ $allowed_system ]]; then
                echo "$file: a system header above platform/: $included"
                failed=1
            fi
            # Paths go through platform/ too, so that every one gets the
            # same handling of long paths and UTF-8 names on each system.
            if [[ $layer != platform && $included == filesystem ]]; then
                echo "$file: std::filesystem above platform/"
                failed=1
            fi
        done < <(grep -E '^#include ' "$file")
    done < <(find "$layer" -name '*.cpp' -o -name '*.h')
done
exit $failed
