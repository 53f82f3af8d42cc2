#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# With --sanitize: the same tests under AddressSanitizer and UBSan, in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=build
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    scripts/build.sh --sanitize
else
    scripts/build.sh
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j2
