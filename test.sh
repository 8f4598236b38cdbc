#!/usr/bin/env bash
# Builds both DLLs and runs every test of both under Wine, ending with CTest's summary.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$VELLARO_ROOT"

ensure_packages
ensure_japanese_locale
build_preset win32
build_preset win64
ensure_prefix
prepare_prefix_for_dialogs
write_combined_ctest

# Wine's server and services must never outlive this script: they would hold CI's output open.
trap stop_wine_services EXIT
# The set-up above ran Wine without a display; its desktop process must not serve the tests.
stop_wine_services

# Dialog tests need a display: the whole run gets a virtual one.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    source scripts/setup.sh
    start_wine_services
    ctest --test-dir build --output-on-failure --timeout 900 "$@"
' vellaro-tests "$@"
