#!/usr/bin/env bash
# Builds Boost Serialization, Filesystem and System for the i686 MinGW build
# from Debian's boost1.74 source package, as static libraries installed under
# PREFIX (default build/boost-mingw). A finished PREFIX is reused at once.
#
#   bash scripts/build-boost-mingw.sh [PREFIX]
#
# QV_MINGW_CXX names the cross compiler (default i686-w64-mingw32-g++-posix,
# the one cmake/toolchain-mingw-i686.cmake uses).
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${1:-build/boost-mingw}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
cxx=${QV_MINGW_CXX:-i686-w64-mingw32-g++-posix}
stamp="$prefix/.complete"
wanted="boost1.74 $cxx serialization filesystem system"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
    exit 0
fi

for tool in "$cxx" bison dpkg-source apt-get; do
    command -v "$tool" >/dev/null || { echo "build-boost-mingw: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

work="$prefix/work"
rm -rf "$work" "$prefix/include" "$prefix/lib" "$stamp"
mkdir -p "$work"
log="$work/build.log"
echo "build-boost-mingw: building Boost for $cxx into $prefix (log: $log)" >&2

(
    cd "$work"
    # Root downloads unsandboxed; apt says so on every run.
    apt-get source --download-only -qq boost1.74 2>&1 | grep -v 'unsandboxed as root' || true
    dsc=$(ls boost1.74_*.dsc | head -n 1)
    dpkg-source -x "$dsc" src
) >"$log" 2>&1 || { tail -n 20 "$log" >&2; echo "build-boost-mingw: could not fetch the source (is deb-src configured? run scripts/setup.sh)" >&2; exit 1; }

src="$work/src"
# The build engine is a host program: a cross compiler named in the
# environment (CMake's configure exports CC and CXX) must not reach it.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS
(
    cd "$src"
    # The Debian source leaves out the generated grammar of the build engine.
    (cd tools/build && bison -y -d -o src/engine/jamgram.cpp src/engine/jamgram.y)
    ./bootstrap.sh --with-toolset=gcc
    echo "using gcc : mingw : $cxx ;" > "$work/user-config.jam"
    ./b2 --user-config="$work/user-config.jam" \
        toolset=gcc-mingw target-os=windows address-model=32 architecture=x86 \
        link=static runtime-link=static threading=multi variant=release \
        --layout=system --with-serialization --with-filesystem --with-system \
        --build-dir="$work/obj" --prefix="$prefix" -j"$(nproc)" -d0 install
) >>"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "build-boost-mingw: the build failed" >&2; exit 1; }

for library in serialization filesystem system; do
    [ -f "$prefix/lib/libboost_$library.a" ] || { echo "build-boost-mingw: libboost_$library.a was not built" >&2; exit 1; }
done
# The source tree is half a gigabyte; only the installed result is kept.
rm -rf "$work"
echo "$wanted" > "$stamp"
echo "build-boost-mingw: done" >&2
