# The Wine suite: the Windows executables' headers, resources and
# manifest. Sourced by run.sh.

begin executables
headers=$("$objdump" -p "$launcher")
check_true "the launcher is a 32-bit i386 PE program" grep -q '^Magic.*010b' <<<"$headers"
check_true "the launcher is a GUI program" grep -q '^Subsystem.*(Windows GUI)' <<<"$headers"
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
check_true "the launcher needs only system DLLs (runtime linked statically): $imports" \
    bash -c '! grep -qiE "libstdc|libgcc|libwinpthread" <<<"$0"' "$imports"

msvcrt_imports=$(awk '/DLL Name:/ { in_msvcrt = ($3 == "msvcrt.dll") } in_msvcrt { print $NF }' <<<"$headers")
# (The narrow length count, _vscprintf, is MinGW's wrapper, which takes the
# runtime's own from msvcrt.dll at its first call.)
check "the counted formatters and their length counts are the Windows runtime's, not MinGW's own" \
    "$(grep -xE '_vs(n|nw|c|cw)printf' <<<"$msvcrt_imports" | sort | tr '\n' ' ')" "_vscwprintf _vsnprintf _vsnwprintf "
check_true "the launcher carries the configuration records' registrations" \
    bash tests/launcher/carried_registrations.sh "$launcher"

# The resources as the system's loader reads them from the .exe, against
# the script they were compiled from.
for id in 2001 2002; do
    expected=$(sed -n "s/^[[:space:]]*$id[[:space:]]*\"\(.*\)\"[[:space:]]*\$/\1/p" resources/launcher.rc)
    rm -f "$case_dir/string-$id"
    wine "$runner" --string "$(dos "$launcher")" "$id" "$(dos "$case_dir/string-$id")"
    if [ -z "$expected" ]; then
        fail "string $id is in resources/launcher.rc"
    else
        check "string table entry $id" "$(cat "$case_dir/string-$id" 2>/dev/null)" "$expected"
    fi
done
wine "$runner" --manifest "$(dos "$launcher")" "$(dos "$case_dir/manifest")"
check_true "the manifest asks for administrator rights" \
    grep -q 'requestedExecutionLevel level="requireAdministrator"' "$case_dir/manifest"
