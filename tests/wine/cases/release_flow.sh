# The Wine suite: the release flow a publisher runs on Linux. wixl builds
# the test product's MSI, qvpack packs it beside the reference bootstrapper
# setup.exe, osslsigncode signs the package with a throwaway certificate,
# and Wine's own msiexec installs it. Sourced by run.sh.

begin release_flow
flow_started=$(date +%s.%N)
elapsed() { awk -v from="$1" -v to="$(date +%s.%N)" 'BEGIN { printf "%.2f", to - from }'; }
registry_value() { wine reg query "$1" /v "$2" 2>/dev/null | sed -n "s/^ *$2 *REG_SZ *//p" | tr -d '\r'; }
product_folder="$WINEPREFIX/drive_c/Program Files/$product Test Product"
properties_key="HKLM\\SOFTWARE\\Lindhale\\$product Test Product"
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
msi_log="$temp_posix/QVPRO_msi.log.txt"
nothing_installed() { test ! -e "$product_folder" && ! wine reg query "$properties_key" >/dev/null 2>&1; }

# Build, sign, verify.
printf 'installed by the test product\r\n' > "$case_dir/readme.txt"
step=$(date +%s.%N)
(cd "$case_dir" && wixl -D ProductName="$product" -o product.msi "$root/tests/wine/product/product.wxs")
msi_time=$(elapsed "$step")
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$case_dir/key.pem" -out "$case_dir/certificate.pem" -days 2 \
    -subj "/CN=$product test publisher" >/dev/null 2>&1
sign() {
    osslsigncode sign -certs "$case_dir/certificate.pem" -key "$case_dir/key.pem" -n "$product" -in "$1" -out "$2" \
        >/dev/null
}
# Built from a signed launcher, as a publisher who signs every binary has:
# the stub is the launcher image as it was before signing.
sign "$launcher" "$case_dir/signed-launcher.exe"
step=$(date +%s.%N)
"$qvpack" build -o "$case_dir/unsigned.exe" --stub "$case_dir/signed-launcher.exe" --file installer32 setup.exe \
    "$setup_exe" --file product product.msi "$case_dir/product.msi" "${example_values[@]}" --value msilog ON >/dev/null
build_time=$(elapsed "$step")
step=$(date +%s.%N)
sign "$case_dir/unsigned.exe" "$case_dir/package.exe"
sign_time=$(elapsed "$step")
echo "wine suite: release flow: MSI built in $msi_time s, package in $build_time s, signed in $sign_time s"
signed="$case_dir/package.exe"
check_true "the stub data is the launcher image without the signature" \
    cmp -s "$launcher" <(head -c "$(stat -c %s "$launcher")" "$case_dir/unsigned.exe")
check "qvpack verify before signing" "$("$qvpack" verify "$case_dir/unsigned.exe" 2>&1)" \
    "$case_dir/unsigned.exe: valid, not signed"
signature_verifies() { osslsigncode verify -CAfile "$case_dir/certificate.pem" -in "$1" >/dev/null 2>&1; }
signature_fails() { ! signature_verifies "$1"; }
check_true "osslsigncode verifies the signed package" signature_verifies "$signed"
check "qvpack verify after" "$("$qvpack" verify "$signed" 2>&1)" "$signed: valid, signed"
check_true "qvpack list shows the certificate table" \
    grep -q 'certificate table: the directory says .*(PKCS#7 signed data)$' <("$qvpack" list "$signed")

# One byte of the packed MSI changed: the signature and the archive break.
cp "$signed" "$case_dir/tampered.exe"
msi_offset=$("$qvpack" list "$signed" | awk '$4 == "file" && $5 == "name" && $6 == "\"product.msi\"" { print previous }
                                           { previous = $1 }')
printf '\x5a' | dd of="$case_dir/tampered.exe" bs=1 seek=$((msi_offset + 4096)) conv=notrunc status=none
check_true "a changed byte in the packed MSI: osslsigncode verify fails" signature_fails "$case_dir/tampered.exe"
run "$case_dir/tampered.exe" ""
check "and the launcher ends with Invalid Archive!, exit 1" "$(tail -n 1 <<<"$boxes")/$exit_code" \
    "$invalid_box/1"
check_true "nothing is installed" nothing_installed

# A product whose launch condition fails: msiexec's error is the package's.
run "$signed" '/s /v"QV_TEST_FAIL=1"'
check "a failing product: the package returns msiexec's 1603" "$exit_code" 1603
check_true "nothing is installed" nothing_installed

# A bootstrapper with no MSI beside it says so, unless silent, and fails.
"$qvpack" build -o "$case_dir/no-msi.exe" --stub "$launcher" --file installer32 setup.exe "$setup_exe" \
    "${example_values[@]}" >/dev/null
run "$case_dir/no-msi.exe" ""
check "no MSI: the bootstrapper's box and exit 1" "$(sed 's/\(to install\): .*/\1/' <<<"$boxes")/$exit_code" \
    "owner 00000000 type 00000010: Setup|No Windows Installer package to install/1"
run "$case_dir/no-msi.exe" "/s"
check "and under /s no box" "$boxes/$exit_code" "/1"

# The worked example's run, with a language.
rm -f "$msi_log"
log_mark
step=$(date +%s.%N)
run "$signed" '/s /v"FOO=1" /L1031'
run_time=$(elapsed "$step")
check "/s /v\"FOO=1\" /L1031: exit code" "$exit_code" 0
check "the product's file is installed" "$(cat "$product_folder/readme.txt" 2>/dev/null)" \
    "$(cat "$case_dir/readme.txt")"
check "PARTNERID, FOO and the language recorded" "$(registry_value "$properties_key" PARTNERID)/$(
    registry_value "$properties_key" FOO)/$(registry_value "$uninstall_key" InstallerLanguage)" "5/1/1031"
check_true "QVPRO_msi.log.txt is msiexec's verbose log" grep -q '^=== Logging started' "$msi_log"
check "and names the properties" "$(grep -aoE 'Property\(S\): (PARTNERID|FOO|INSTALLERLANGUAGE) = [^\r]*' "$msi_log" |
    sort -u | tr '\n' ';')" "Property(S): FOO = 1;Property(S): INSTALLERLANGUAGE = 1031;Property(S): PARTNERID = 5;"
check "working folder removed" "$(working_folders)" ""
check "the five launch lines" "$(log_appended | sed 's/\\QV[0-9]*\\/\\QV…\\/')" "$(printf '\n%s\nFile: %s\nParameters: %s\n' \
    "$product" "$temp\\QV…\\setup.exe" "/s  /L1031 /V\"$log_option FOO=1 PARTNERID=5 WEBINSTALLER=1 \"")"

# The next package takes the language from the installed product.
rm -f "$msi_log"
log_mark
run "$signed" '/s'
check "a second run: exit code" "$exit_code" 0
check "the bootstrapper receives /L1031 from the registry" "$(log_appended | sed -n 's/^Parameters: //p')" \
    "/L1031 /s /V\"$log_option  PARTNERID=5 WEBINSTALLER=1 \""
check "and hands it to msiexec" "$(grep -aoE 'Property\(S\): INSTALLERLANGUAGE = [0-9]*' "$msi_log" | sort -u)" \
    "Property(S): INSTALLERLANGUAGE = 1031"

# Removed again by msiexec /x.
wine msiexec /x "$(dos "$case_dir/product.msi")" /qn >/dev/null 2>&1
check "msiexec /x: exit code" "$?" 0
check_true "removes the file and the registry values" \
    bash -c '! wine reg query "$0" >/dev/null 2>&1 && test ! -e "$1"' "$uninstall_key" "$product_folder/readme.txt"
echo "wine suite: release flow: the install run took $run_time s, the whole flow $(elapsed "$flow_started") s"
