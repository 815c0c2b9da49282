#!/usr/bin/env bash
# The release flow as a publisher runs it on Linux (bash scripts/demo.sh
# --windows): builds qvpack and the Windows launcher and setup.exe, makes the
# test product's MSI with wixl, packs and signs the package (with a
# throwaway certificate), verifies it both ways, installs it under Wine in
# a prefix of its own, and shows what was installed and the exit code.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target qvpack
toolchain=()
[ -f build/mingw/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake)
cmake -S . -B build/mingw "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/mingw -j"$(nproc)" --target quorvane_launcher setup_bootstrapper

demo=$PWD/build/demo-windows
rm -rf "$demo"
mkdir -p "$demo"
qvpack=build/tools/qvpack/qvpack
product=$(sed -n 's/^[[:space:]]*2002[[:space:]]*"\(.*\)"[[:space:]]*$/\1/p' resources/launcher.rc)

echo "== 1. the MSI (wixl)"
printf 'installed by the demo product\r\n' > "$demo/readme.txt"
(cd "$demo" && wixl -D ProductName="$product" -o product.msi ../../tests/wine/product/product.wxs)
ls -l "$demo/product.msi"

echo "== 2. the package: the Windows launcher, setup.exe and the MSI"
"$qvpack" build -o "$demo/unsigned.exe" --stub build/mingw/launcher/quorvane_launcher.exe \
    --file installer32 setup.exe build/mingw/tools/setup/setup.exe \
    --file product product.msi "$demo/product.msi" \
    --value executable32 '%installer32%' --value parameters '/V"PARTNERID=5 WEBINSTALLER=1 "' --value msilog ON

echo "== 3. signing (a throwaway self-signed certificate)"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$demo/key.pem" -out "$demo/certificate.pem" -days 1 \
    -subj "/CN=$product demo publisher" 2>/dev/null
osslsigncode sign -certs "$demo/certificate.pem" -key "$demo/key.pem" -n "$product" \
    -in "$demo/unsigned.exe" -out "$demo/package.exe" >/dev/null

echo "== 4. verifying"
"$qvpack" verify "$demo/package.exe"
osslsigncode verify -CAfile "$demo/certificate.pem" -in "$demo/package.exe" | grep -E '^(Signature verification|Succeeded|Failed)'

echo "== 5. installing under Wine: package.exe /s /v\"FOO=1\" /L1031"
export WINEPREFIX="$demo/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineboot --init >/dev/null 2>&1
status=0
wine "$demo/package.exe" /s '/v"FOO=1"' /L1031 || status=$?
echo "== the package returned $status: msiexec's exit code, through setup.exe and the launcher (wine passes on its low 8 bits)"
echo "== installed:"
find "$WINEPREFIX/drive_c/Program Files/$product Test Product" -type f | sed "s|^$WINEPREFIX/||"
wine reg query "HKLM\\SOFTWARE\\Lindhale\\$product Test Product" 2>/dev/null | tr -d '\r' | grep REG_SZ
wine reg query "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" 2>/dev/null |
    tr -d '\r' | grep REG_SZ
echo "== msiexec's log: C:\\users\\${USER:-$(id -un)}\\Temp\\QVPRO_msi.log.txt in the prefix; remove the product with:"
echo "   WINEPREFIX=$WINEPREFIX wine msiexec /x $demo/product.msi /qn"
wineserver -w
[ "$status" -eq 0 ]
