#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and
# quiet when everything is present. QV_SKIP_WINE=1 leaves out the Windows
# cross build and Wine.
set -euo pipefail

packages=(cmake g++ make libboost-serialization-dev libboost-filesystem-dev libboost-system-dev
          libssl-dev libgtest-dev googletest python3)
# The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
[ "${QV_SKIP_FUZZ:-0}" = 1 ] || packages+=(clang-14 libfuzzer-14-dev libclang-rt-14-dev)

# The release this machine runs (its suites are named after it).
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
need_update=0

if [ "${QV_SKIP_WINE:-0}" != 1 ]; then
    # The Windows build: the i686 cross compiler, bison and dpkg-dev to
    # build Boost from Debian's source package, and 32-bit Wine to run it;
    # the release flow's tools: wixl builds the test product's MSI,
    # osslsigncode signs packages with a certificate openssl makes.
    packages+=(g++-mingw-w64-i686 dpkg-dev bison wine wine32:i386 wixl osslsigncode openssl)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "setup: adding the i386 architecture" >&2
        $sudo_cmd dpkg --add-architecture i386
        need_update=1
    fi
    # apt-get source needs source entries; mirror the configured binary
    # entries of this release.
    if ! grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
            /etc/apt/sources.list /etc/apt/sources.list.d/; then
        echo "setup: adding source entries for apt-get source" >&2
        {
            for file in /etc/apt/sources.list.d/*.sources; do
                [ -f "$file" ] || continue
                grep -q "Suites:.*\b$codename\b" "$file" || continue
                sed -e 's/^Types:.*/Types: deb-src/' "$file"
                echo
            done
        } > /tmp/qv-deb-src.sources
        if [ -s /tmp/qv-deb-src.sources ]; then
            $sudo_cmd cp /tmp/qv-deb-src.sources /etc/apt/sources.list.d/qv-deb-src.sources
        elif [ -f /etc/apt/sources.list ]; then
            sed -n "s/^deb \(.*\b$codename\b.*\)/deb-src \1/p" /etc/apt/sources.list > /tmp/qv-deb-src.list
            $sudo_cmd cp /tmp/qv-deb-src.list /etc/apt/sources.list.d/qv-deb-src.list
        fi
        rm -f /tmp/qv-deb-src.sources /tmp/qv-deb-src.list
        need_update=1
    fi
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
    # A mirror in mid-sync fails one index now and then: try again, then go
    # on with what arrived; the install below fails if that is not enough.
    for attempt in 1 2 3; do
        $sudo_cmd apt-get update -qq && break
        echo "setup: apt-get update failed (attempt $attempt)" >&2
        sleep $((attempt * 5))
    done
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}" >&2
    install=($sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
    if ! "${install[@]}" "${missing[@]}" >/dev/null; then
        # Without one architecture's index of a suite (the security suite's
        # i386 index, say), packages of both architectures that must match
        # cannot: take them from the release's own suite instead.
        echo "setup: retrying with the packages of $codename itself" >&2
        "${install[@]}" -t "$codename" "${missing[@]}" >/dev/null
    fi
fi
