#!/usr/bin/env bash
# The Wine suite: the Windows build's unit tests, then real packages (the
# Windows launcher and a recording test installer, packed by the native
# package tool) run silently under Wine in a throwaway prefix. The helpers
# are in lib.sh, the cases in cases/, one file per area.
#
#   bash tests/wine/run.sh [WINDOWS_BUILD] [NATIVE_BUILD]
#
# WINDOWS_BUILD (default build/mingw) is a build with
# cmake/toolchain-mingw-i686.cmake, NATIVE_BUILD (default build) holds the
# native qvpack. Ends with the line "N passed, N failed"; exit 1 on any
# failure.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
windows_build=$(cd "${1:-build/mingw}" && pwd)
native_build=$(cd "${2:-build}" && pwd)

launcher="$windows_build/launcher/quorvane_launcher.exe"
installer="$windows_build/tests/wine/qv_wine_installer.exe"
runner="$windows_build/tests/wine/qv_wine_runner.exe"
unit_tests="$windows_build/tests/wine/windows_unit_tests.exe"
unit_tests_utf8="$windows_build/tests/wine/windows_unit_tests_utf8.exe"
win32_suite="$windows_build/tests/win32/win32_tests.exe"
windows_qvpack="$windows_build/tools/qvpack/qvpack.exe"
crasher="$windows_build/tests/wine/qv_wine_crasher.exe"
setup_exe="$windows_build/tools/setup/setup.exe"
qvpack="$native_build/tools/qvpack/qvpack"
native_launcher="$native_build/launcher/quorvane_launcher"
native_installer="$native_build/tests/support/test_installer"
native_e2e="$native_build/tests/e2e/e2e_tests"
objdump=i686-w64-mingw32-objdump
for file in "$launcher" "$installer" "$runner" "$unit_tests" "$unit_tests_utf8" "$win32_suite" "$windows_qvpack" "$qvpack" \
        "$native_launcher" "$native_installer" "$native_e2e" "$crasher" "$setup_exe"; do
    [ -f "$file" ] || { echo "wine suite: $file is missing; build it first" >&2; exit 1; }
done
for tool in wixl osslsigncode openssl; do
    command -v "$tool" >/dev/null || { echo "wine suite: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done

suite=$(mktemp -d "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
export WINEPREFIX="$suite/prefix"
# 32-bit Windows, as the launcher expects: one registry view, no WoW64.
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers, no windows: the suite runs headless.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine takes its ANSI code page from the locale: 1252, as on the POSIX side.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

finish() {
    wineserver -k >/dev/null 2>&1
    chmod -R u+w "$suite" 2>/dev/null
    rm -rf "$suite"
}
trap finish EXIT

# shellcheck source=tests/wine/lib.sh
source tests/wine/lib.sh

# --- Set-up ----------------------------------------------------------------

started=$(date +%s)
wineboot --init >/dev/null 2>&1
# One server for the whole suite: every start after this one is quick.
wineserver -p
# The relay trace is the window on message boxes: it logs each call of
# MessageBoxA with its arguments, and nothing else.
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxA /f >/dev/null 2>&1
wine "$runner" "$(dos "$installer")" "$(dos /dev/null)" "$(dos "$suite/probe")" >/dev/null 2>&1
temp=$(result temp "$suite/probe")
temp=${temp%\\}
temp_posix=$(on_drive_c "$temp")
if [ -z "$temp" ] || [ ! -d "$temp_posix" ]; then
    echo "wine suite: Wine's temporary directory was not found (probe: $(cat "$suite/probe" 2>/dev/null))" >&2
    exit 1
fi
log_file="$temp_posix/Reader.log.txt"
product=$(sed -n 's/^[[:space:]]*2002[[:space:]]*"\(.*\)"[[:space:]]*$/\1/p' resources/launcher.rc)
log_option="/l*v \\\"$temp\\QVPRO_msi.log.txt\\\""
invalid_box='Invalid Archive!|We are sorry, but your installation / update did not complete due to unexpected download errors.\r\nPlease download full version of the program'
echo "wine suite: prefix ready in $(($(date +%s) - started)) s; temporary directory $temp"

packages="$suite/packages"
mkdir -p "$packages"
example_values=(--value executable32 %installer32% --value parameters '/V"PARTNERID=5 WEBINSTALLER=1 "')
"$qvpack" build -o "$packages/example.exe" --stub "$launcher" --stub-file-name Reader.exe \
    --file installer32 setup.exe "$installer" "${example_values[@]}" --value msilog ON >/dev/null
"$qvpack" build -o "$packages/plain.exe" --stub "$launcher" --stub-file-name Reader.exe \
    --file installer32 setup.exe "$installer" "${example_values[@]}" >/dev/null
"$qvpack" build -o "$packages/native-plain" --stub "$native_launcher" --stub-file-name Reader.exe \
    --file installer32 setup.exe "$native_installer" "${example_values[@]}" >/dev/null
chmod +x "$packages/native-plain"
# Read first, a file group with an empty file name (no plain file name)
# ends the walk.
"$qvpack" build -o "$packages/empty-name.exe" --stub "$launcher" --stub-file-name Reader.exe \
    --file installer32 setup.exe "$installer" "${example_values[@]}" --file other "" "$installer" >/dev/null
# One byte of the "parameters" text changed: its record fails the digest.
cp "$packages/example.exe" "$packages/broken.exe"
offset=$(grep -obaF 'PARTNERID=5' "$packages/broken.exe" | tail -n 1 | cut -d: -f1)
printf 'Q' | dd of="$packages/broken.exe" bs=1 seek="$offset" conv=notrunc status=none

# The cases, in this order: the run log's check reads what the package runs
# before it appended.
for part in executables unit_tests packages random_runs language release_flow run_log crash_dump package_tool planted_dlls \
        held_names held_files code_page; do
    # shellcheck source=/dev/null
    source "tests/wine/cases/$part.sh"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
