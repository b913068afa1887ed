#!/usr/bin/env bash
# The shipped alert rules as Prometheus reads them, then each alert against
# series made for it. Skipped (77) where promtool, of Debian's package
# prometheus, is not installed.
#   check_rules.sh RULES_FILE RULES_TEST_FILE
set -euo pipefail
if ! command -v promtool >/dev/null; then
    echo "skipped: promtool is not installed (Debian package prometheus)"
    exit 77
fi
promtool check rules "$1"
promtool test rules "$2"
