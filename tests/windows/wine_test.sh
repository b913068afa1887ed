#!/bin/sh
# Runs a Windows test program under Wine. Wine now and then fails to start
# a program at all when several start at once: a failure status with not a
# byte of output. Only such a start is tried again; a program that ran and
# failed is reported as it is.
output=$(mktemp) || exit 1
trap 'rm -f "$output"' EXIT
for attempt in 1 2; do
    wine "$@" >"$output" 2>&1
    status=$?
    if [ "$status" -eq 0 ] || [ -s "$output" ]; then
        break
    fi
    echo "wine started nothing (status $status), attempt $attempt" >&2
done
cat "$output"
exit "$status"
