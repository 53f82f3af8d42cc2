#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a
# bounded time on a copy of its seed corpus. A crash fails the run and leaves
# the input in build-fuzz/findings/; keep it under tests/fuzz/regressions/.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(upload_reply unit_listing command_text calculator settings_values program_file program_text
    legacy_program)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKQM_FUZZ=ON -DKQM_BUILD_TESTS=OFF -DKQM_BUILD_BENCH=OFF -DKQM_WARNINGS_AS_ERRORS=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
status=0
for target in "${targets[@]}"; do
    work=$(mktemp -d)
    cp -r "tests/fuzz/corpus/$target/." "$work/"
    log="build-fuzz/findings/fuzz_$target.log"
    rc=0
    (cd build-fuzz/findings && "../tests/fuzz/fuzz_$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work") >"$log" 2>&1 || rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -oE 'DONE +cov: [0-9]+' "$log" | grep -oE '[0-9]+$' || true)
    echo "fuzz_$target: ${runs:-?} executions, coverage ${cov:-?} edges, exit $rc"
    if [ "$rc" -ne 0 ]; then
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" || tail -20 "$log"
        status=1
    fi
    rm -rf "$work"
done
exit $status
