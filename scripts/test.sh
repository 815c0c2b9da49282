#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the native tests, then
# the Windows build under Wine (QV_SKIP_WINE=1 skips the Windows part).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${QV_SKIP_WINE:-0}" != 1 ]; then
    cmake -S . -B build/mingw -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release -DQV_WERROR=ON >/dev/null
    cmake --build build/mingw -j"$jobs"
    bash tests/wine/run.sh build/mingw build
fi
