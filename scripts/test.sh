#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the native tests; the
# same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# (QV_SKIP_SANITIZERS=1 skips them); each fuzz target for QV_FUZZ_RUNS inputs
# from a fixed seed (default 300000; QV_SKIP_FUZZ=1 skips them); then the
# Windows build under Wine
# (QV_SKIP_WINE=1 skips the Windows part).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
# ctest runs the one Win32 suite case by case; run whole, it counts the
# cases skipped here as documented differences.
build/tests/win32/win32_tests --gtest_brief=1 | tail -n 1

if [ "${QV_SKIP_SANITIZERS:-0}" != 1 ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON -DQV_SANITIZE=ON >/dev/null
    cmake --build build-asan -j"$jobs"
    # AddressSanitizer's reports go to files here, so that one in a child
    # fails the run even where its test looks only at the exit code; an
    # UndefinedBehaviorSanitizer report (standard error only) ends its
    # process with SIGABRT, which no test expects. Fatal signals are left to
    # the program: tests crash children on purpose to check the crash dump
    # filter, and a stray access still ends its process with the signal.
    reports=$(pwd)/build-asan/sanitizer-reports
    rm -rf "$reports"
    mkdir -p "$reports"
    status=0
    ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:log_path=$reports/asan" \
    UBSAN_OPTIONS="abort_on_error=1:halt_on_error=1:print_stacktrace=1" \
        ctest --test-dir build-asan --output-on-failure -j"$jobs" || status=$?
    if [ -n "$(ls -A "$reports")" ]; then
        echo "test: sanitizer reports:" >&2
        for report in "$reports"/*; do
            echo "== $report" >&2
            cat "$report" >&2
        done
        status=1
    fi
    [ "$status" -eq 0 ] || exit "$status"
fi

if [ "${QV_SKIP_FUZZ:-0}" != 1 ]; then
    CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON \
        -DQV_FUZZ=ON -DQV_TESTS=OFF >/dev/null
    targets=$(cd fuzz && ls -- *_fuzzer.cpp | sed 's/\.cpp$//')
    # shellcheck disable=SC2086
    cmake --build build-fuzz -j"$jobs" --target $targets
    # The targets write many small files: a memory-backed folder when there is one.
    fuzz_tmp=$(mktemp -d -p /dev/shm qv-fuzz.XXXXXX 2>/dev/null || mktemp -d)
    # A terminated script runs this at once, while its foreground command
    # still runs: the fuzzer is ended first, or its files vanish under it.
    fuzz_pid=
    trap '[ -z "$fuzz_pid" ] || { kill "$fuzz_pid"; wait "$fuzz_pid" || true; } 2>/dev/null; rm -rf "$fuzz_tmp"' EXIT
    for target in $targets; do
        # A fixed seed and a count of inputs, not a time: every machine runs
        # the same inputs, so a finding reproduces. New inputs go to the build
        # tree's corpus; the seeds stay as they are.
        mkdir -p "build-fuzz/corpus/$target" build-fuzz/artifacts
        dictionary=()
        [ -f "fuzz/$target.dict" ] && dictionary=("-dict=fuzz/$target.dict")
        echo "test: fuzzing $target for ${QV_FUZZ_RUNS:-300000} inputs" >&2
        TMPDIR="$fuzz_tmp" "build-fuzz/fuzz/$target" "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
            "${dictionary[@]}" -seed="${QV_FUZZ_SEED:-1}" -runs="${QV_FUZZ_RUNS:-300000}" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=1 > "build-fuzz/$target.log" 2>&1 &
        fuzz_pid=$!
        status=0
        wait "$fuzz_pid" || status=$?
        fuzz_pid=
        if [ "$status" -ne 0 ]; then
            tail -n 60 "build-fuzz/$target.log" >&2
            echo "test: $target failed; the input is in build-fuzz/artifacts/" >&2
            exit 1
        fi
        grep -E '^(stat::number_of_executed_units|Done)' "build-fuzz/$target.log" >&2 || true
    done
fi

if [ "${QV_SKIP_WINE:-0}" != 1 ]; then
    cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release -DQV_WERROR=ON >/dev/null
    cmake --build build/mingw -j"$jobs"
    # 32-bit Wine needs a kernel that runs 32-bit x86 programs; some
    # virtual machines' kernels do not. The Windows build is still built.
    if /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
        bash tests/wine/run.sh build/mingw build
    else
        echo "test: this machine cannot run 32-bit x86 programs, so the Wine suite cannot run here" >&2
    fi
fi
