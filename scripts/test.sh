#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the native tests; the
# same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# (QV_SKIP_SANITIZERS=1 skips them); each fuzz target for 300,000 inputs
# from a fixed seed (scripts/fuzz.sh; QV_SKIP_FUZZ=1 skips them); then the
# Windows build under Wine (QV_SKIP_WINE=1 skips the Windows part).
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
    bash scripts/fuzz.sh
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
