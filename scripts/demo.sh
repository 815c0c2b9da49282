#!/usr/bin/env bash
# The main job: builds everything, packs the demo installer into a package
# like the worked example (msilog ON, the PARTNERID parameters, setup.exe
# started through "%installer32%"), runs it with a "/V" option of its own,
# and shows the installer's command line and the launcher's exit code.
#
#   bash scripts/demo.sh --windows
# runs the release flow instead: a Windows Installer product built by wixl,
# packed with the Windows launcher and setup.exe, signed by osslsigncode,
# verified, and installed under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --windows ]; then
    exec bash scripts/demo_windows.sh
fi

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/tmp"
build/tools/qvpack/qvpack build -o "$demo/package.exe" --stub build/launcher/quorvane_launcher \
    --file installer32 setup.exe build/tools/demo_installer/demo_installer \
    --value executable32 '%installer32%' \
    --value parameters '/V"PARTNERID=5 WEBINSTALLER=1 "' \
    --value msilog ON
echo "== the package's archive:"
build/tools/qvpack/qvpack list "$demo/package.exe" | tail -n 13

echo
echo "== running: package.exe /v\"FOO=1\"   (temporary directory $demo/tmp)"
status=0
TMPDIR="$demo/tmp" QV_DEMO_EXIT_CODE=7 "$demo/package.exe" '/v"FOO=1"' || status=$?
echo "== the launcher returned $status, the installer's exit code"
left=$(find "$demo/tmp" -mindepth 1 -maxdepth 1 -name 'QV*' -type d | wc -l)
echo "== working folders left behind: $left"
[ "$status" -eq 7 ] && [ "$left" -eq 0 ]
