# The Wine suite: the installer language from registry fixtures imported
# into Wine's registry. Sourced by run.sh.

begin language
# The registry fixtures that the POSIX layer reads as hive files, imported
# into Wine's registry one at a time; the locale sets the system language.
product_key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\'"$product"
plain_parameters=' /V" PARTNERID=5 WEBINSTALLER=1 "'
language_cases=(
    "language_not_installed en_GB.UTF-8 "
    "language_1031 en_US.UTF-8 /L1031"
    "language_1033 en_US.UTF-8 /L1033"
    "language_1033 en_GB.UTF-8 /L2057"
    "language_1033_unmarked en_GB.UTF-8 /L2057"
    "language_1033_american en_GB.UTF-8 /L1033"
    "language_name_german en_US.UTF-8 /L1031"
    "language_name_unknown de_DE.UTF-8 /L1033"
    "language_both en_US.UTF-8 /L1036"
    "language_empty_identifier en_US.UTF-8 /L1036"
    "language_abc en_US.UTF-8 /Labc"
)
for entry in "${language_cases[@]}"; do
    read -r fixture locale option <<<"$entry"
    wine reg delete "$product_key" /f >/dev/null 2>&1
    wine reg import "$(dos "$root/tests/fixtures/registry/$fixture.reg")" >/dev/null 2>&1
    run "$packages/plain.exe" "" LANG="$locale" LC_ALL="$locale"
    check "$fixture under $locale" "$(parameters_of "$record")" "${option:+$option }$plain_parameters"
done
wine reg delete "$product_key" /f >/dev/null 2>&1
wine reg import "$(dos "$root/tests/fixtures/registry/language_1031.reg")" >/dev/null 2>&1
run "$packages/plain.exe" "/L1049"
check "an /L on the command line wins" "$(parameters_of "$record")" "/L1049$plain_parameters"
wine reg delete "$product_key" /f >/dev/null 2>&1
