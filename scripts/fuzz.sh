#!/usr/bin/env bash
# Builds the fuzz targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for QV_FUZZ_RUNS inputs from
# seed QV_FUZZ_SEED, one after the other; any finding fails the run.
#
#   bash scripts/fuzz.sh [TARGET...]
#
# The test command runs every target for 300,000 inputs from seed 1 (the
# defaults), so every machine runs the same inputs and a finding
# reproduces. Long runs go in the background with a random seed (0), e.g.
#   QV_FUZZ_RUNS=10000000 QV_FUZZ_SEED=0 nohup bash scripts/fuzz.sh archive_fuzzer &
# Each target's log is build-fuzz/TARGET.log; findings go to
# build-fuzz/artifacts/, new inputs to build-fuzz/corpus/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON \
    -DQV_FUZZ=ON -DQV_TESTS=OFF >/dev/null
targets=${*:-$(cd fuzz && ls -- *_fuzzer.cpp | sed 's/\.cpp$//')}
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$jobs" --target $targets
# The targets write many small files: a memory-backed folder when there is one.
fuzz_tmp=$(mktemp -d -p /dev/shm qv-fuzz.XXXXXX 2>/dev/null || mktemp -d)
# A terminated script runs this at once, while its foreground command
# still runs: the fuzzer is ended first, or its files vanish under it.
fuzz_pid=
trap '[ -z "$fuzz_pid" ] || { kill "$fuzz_pid"; wait "$fuzz_pid" || true; } 2>/dev/null; rm -rf "$fuzz_tmp"' EXIT
for target in $targets; do
    # A count of inputs, not a time. New inputs go to the build tree's
    # corpus; the seeds stay as they are.
    mkdir -p "build-fuzz/corpus/$target" build-fuzz/artifacts
    dictionary=()
    [ -f "fuzz/$target.dict" ] && dictionary=("-dict=fuzz/$target.dict")
    echo "fuzz: $target for ${QV_FUZZ_RUNS:-300000} inputs" >&2
    TMPDIR="$fuzz_tmp" "build-fuzz/fuzz/$target" "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
        "${dictionary[@]}" -seed="${QV_FUZZ_SEED:-1}" -runs="${QV_FUZZ_RUNS:-300000}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=1 > "build-fuzz/$target.log" 2>&1 &
    fuzz_pid=$!
    status=0
    wait "$fuzz_pid" || status=$?
    fuzz_pid=
    if [ "$status" -ne 0 ]; then
        tail -n 60 "build-fuzz/$target.log" >&2
        echo "fuzz: $target failed; the input is in build-fuzz/artifacts/" >&2
        exit 1
    fi
    grep -E '^(stat::number_of_executed_units|Done)' "build-fuzz/$target.log" >&2 || true
done
