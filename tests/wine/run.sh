#!/usr/bin/env bash
# The Wine suite: the Windows build's unit tests, then real packages (the
# Windows launcher and a recording test installer, packed by the native
# package tool) run silently under Wine in a throwaway prefix.
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
windows_qvpack="$windows_build/tools/qvpack/qvpack.exe"
crasher="$windows_build/tests/wine/qv_wine_crasher.exe"
qvpack="$native_build/tools/qvpack/qvpack"
native_launcher="$native_build/launcher/quorvane_launcher"
native_installer="$native_build/tests/support/test_installer"
objdump=i686-w64-mingw32-objdump
for file in "$launcher" "$installer" "$runner" "$unit_tests" "$windows_qvpack" "$qvpack" "$native_launcher" \
        "$native_installer" "$crasher"; do
    [ -f "$file" ] || { echo "wine suite: $file is missing; build it first" >&2; exit 1; }
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

passed=0
failed=0
current=""

begin() {
    current=$1
    case_dir="$suite/cases/$current"
    mkdir -p "$case_dir"
}

pass() { passed=$((passed + 1)); echo "[ ok ] $current: $1"; }
fail() { failed=$((failed + 1)); echo "[FAIL] $current: $1"; }

# check DESCRIPTION ACTUAL EXPECTED
check() {
    if [ "$2" == "$3" ]; then
        pass "$1"
    else
        fail "$1"
        printf '       expected: %s\n       actual:   %s\n' "$3" "$2"
    fi
}

# check_true DESCRIPTION COMMAND...
check_true() {
    local description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}

# The DOS form of a POSIX path: drive Z: is the root.
dos() { printf 'Z:%s' "${1//\//\\}"; }

# The POSIX form of a path on Wine's drive C:.
on_drive_c() {
    local path=${1#[Cc]:}
    path=${path//\\//}
    printf '%s/drive_c%s' "$WINEPREFIX" "$path"
}

# A value of a record or result file, escapes undone.
field() {
    perl -ne 'BEGIN { $key = shift } if (s/^\Q$key\E=//) { chomp; s/\\(.)/$1 eq "n" ? "\n" : $1 eq "r" ? "\r" : $1/ge; print; exit }' "$1" "$2"
}

# A value of the runner's result file (not escaped).
result() { sed -n "s/^$1=//p" "$2"; }

# run PACKAGE ARGUMENTS [NAME=VALUE...]: starts the package with exactly
# ARGUMENTS behind its quoted path, waits, and sets exit_code, record (the
# installer's record file of this case, if it ran) and boxes (the message
# boxes shown, one "caption|text" line each, as Wine's trace escapes them:
# \r, \n, \" and \\; owner and type must be 0, or the line says so).
run() {
    local package=$1 arguments=$2
    shift 2
    record="$case_dir/record"
    rm -f "$record" "$case_dir/result"
    printf '%s' "$arguments" > "$case_dir/arguments"
    env QV_TEST_RECORD="$(dos "$record")" WINEDEBUG=-all,+relay "$@" \
        wine "$runner" "$(dos "$package")" "$(dos "$case_dir/arguments")" "$(dos "$case_dir/result")" \
        2>"$case_dir/trace"
    exit_code=$(result exit "$case_dir/result" 2>/dev/null)
    boxes=$(perl -ne '
        next unless /Call user32\.MessageBoxA\(([0-9a-f]+),[0-9a-f]+ "((?:[^"\\]|\\.)*)",[0-9a-f]+ "((?:[^"\\]|\\.)*)",([0-9a-f]+)\)/;
        print hex($1) || hex($4) ? "owner $1 type $4: " : "", "$3|$2\n";' "$case_dir/trace")
}

# native_run PACKAGE ARGUMENTS: the same run on the POSIX layer, in a
# temporary directory and mutex folder of its own; sets native_exit_code and
# native_record.
native_run() {
    local tmp="$case_dir/native-tmp"
    mkdir -p "$tmp" "$case_dir/native-mutex"
    native_record="$case_dir/native-record"
    rm -f "$native_record"
    env TMPDIR="$tmp" QV_MUTEX_DIR="$case_dir/native-mutex" QV_TEST_RECORD="$native_record" \
        "$1" "$2" 2>"$case_dir/native-stderr"
    native_exit_code=$?
}

# The installer's parameters: its command line without the quoted program.
parameters_of() { field command_line "$1" | sed 's/^"[^"]*" //'; }
arguments_of() { grep '^arg=' "$1"; }

# The log's size before a run, and what the run appended: one line per
# line, the stamp ("YYYY/MM/DD HH:MM:SS" and four blanks at level 1) and the
# line end checked and taken off. A new log begins with the UTF-8 byte order
# mark.
log_mark() { log_before=$(stat -c %s "$log_file" 2>/dev/null || echo 0); }
log_appended() {
    local from=$((log_before + 1))
    if [ "$log_before" -eq 0 ] && [ -s "$log_file" ]; then
        [ "$(head -c 3 "$log_file" | od -An -tx1 | tr -d ' ')" == efbbbf ] || echo "no byte order mark"
        from=4
    fi
    tail -c +"$from" "$log_file" 2>/dev/null |
        perl -ne 'print s/^\d{4}\/\d\d\/\d\d \d\d:\d\d:\d\d    (.*)\r\n\z/$1/s ? "$_\n" : "malformed: $_"'
}

# Working folders in Wine's temporary directory.
working_folders() { (cd "$temp_posix" && ls -d QV[0-9]* 2>/dev/null); }

# check_launch DESCRIPTION EXPECTED_PARAMETERS: the installer ran from a
# fresh working folder named after the current time, in the temporary
# directory, with exactly "FILE" PARAMETERS as its command line; the run
# ended with 0 and removed the folder.
check_launch() {
    local description=$1 parameters=$2
    check "$description: exit code" "$exit_code" 0
    if [ ! -f "$record" ]; then
        fail "$description: the installer did not run"
        return
    fi
    local command_line seconds
    command_line=$(field command_line "$record")
    seconds=$(printf '%s' "$command_line" | sed -n 's/^"[^"]*\\QV\([0-9]*\)\\setup\.exe".*/\1/p')
    if [ -z "$seconds" ] || [ "$seconds" -lt "$started" ] || [ "$seconds" -gt "$(date +%s)" ]; then
        fail "$description: working folder named after the time of the run"
        printf '       command line: %s\n' "$command_line"
        return
    fi
    pass "$description: working folder named after the time of the run"
    local folder="$temp\\QV$seconds"
    check "$description: command line" "$command_line" "\"$folder\\setup.exe\" $parameters"
    check "$description: started in the temporary directory" "$(field cwd "$record")" "$temp"
    check "$description: working folder removed" "$(working_folders)" ""
    check "$description: the five launch lines in Wine's Reader.log.txt" "$(log_appended)" \
        "$(printf '\n%s\nFile: %s\nParameters: %s\n' "$product" "$folder\\setup.exe" "$parameters")"
}

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

# --- The Windows executables ------------------------------------------------

begin executables
headers=$("$objdump" -p "$launcher")
check_true "the launcher is a 32-bit i386 PE program" grep -q '^Magic.*010b' <<<"$headers"
check_true "the launcher is a GUI program" grep -q '^Subsystem.*(Windows GUI)' <<<"$headers"
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
check_true "the launcher needs only system DLLs (runtime linked statically): $imports" \
    bash -c '! grep -qiE "libstdc|libgcc|libwinpthread" <<<"$0"' "$imports"

msvcrt_imports=$(awk '/DLL Name:/ { in_msvcrt = ($3 == "msvcrt.dll") } in_msvcrt { print $NF }' <<<"$headers")
check "the counted formatters are the Windows runtime's, not MinGW's own" \
    "$(grep -xE '_vsnprintf|_vsnwprintf' <<<"$msvcrt_imports" | sort | tr '\n' ' ')" "_vsnprintf _vsnwprintf "

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

begin unit_tests
# Wine words the system's message texts differently from Windows, and its
# runtime prints an unknown conversion instead of failing it.
if wine "$unit_tests" --gtest_brief=1 \
        --gtest_filter='-format.system_error_text:format.an_unrenderable_format_ends_in_an_error' \
        > "$case_dir/output" 2>&1; then
    pass "the Windows build's unit tests"
else
    fail "the Windows build's unit tests"
    sed 's/^/       /' "$case_dir/output"
fi

# --- Packages ---------------------------------------------------------------

log_option="/l*v \\\"$temp\\QVPRO_msi.log.txt\\\""

begin worked_example_1
started=$(date +%s)
log_mark
run "$packages/example.exe" ""
check_launch "empty command line" " /V\"$log_option  PARTNERID=5 WEBINSTALLER=1 \""

begin worked_example_2
started=$(date +%s)
log_mark
run "$packages/example.exe" '/s /v"FOO=1"'
check_launch "quoted /v option" "/s  /V\"$log_option FOO=1 PARTNERID=5 WEBINSTALLER=1 \""

begin worked_example_3
started=$(date +%s)
log_mark
run "$packages/plain.exe" '/vFOO=1 /x'
check_launch "bare /v option, no installer log" " /x /V\"FOO=1 PARTNERID=5 WEBINSTALLER=1 \""

begin both_platforms
# The same package contents and command line through the POSIX layer and
# through Wine: the installer gets the same parameters, and its runtime
# splits them into the same arguments.
both_platforms_cases=(
    ''
    '/s /v"FOO=1"'
    '/vFOO=1 /x'
    '/v"A=\"q\" B=1" tail'
    '/s a\"b "c d" e\\"f g" ""h"" x"" "y""z" \\\\"w"'
    '/V"PATH=C:\Program Files\Q\\" /L1049'
)
for arguments in "${both_platforms_cases[@]}"; do
    run "$packages/plain.exe" "$arguments"
    native_run "$packages/native-plain" "$arguments"
    check "[$arguments] exit codes" "$exit_code/$native_exit_code" "0/0"
    if [ -f "$record" ] && [ -f "$native_record" ]; then
        check "[$arguments] parameters" "$(parameters_of "$record")" "$(parameters_of "$native_record")"
        check "[$arguments] arguments" "$(arguments_of "$record")" "$(arguments_of "$native_record")"
    else
        fail "[$arguments] both installers ran"
    fi
done

begin exit_codes
run "$packages/example.exe" "/s" QV_TEST_EXIT_CODE=3010
check "the installer's 3010 is the package's exit code" "$exit_code" 3010
check "working folder removed" "$(working_folders)" ""

begin invalid_archive
log_mark
run "$packages/broken.exe" "/s"
check "a record failing its digest ends the run with 1" "$exit_code" 1
check "no launch lines are logged" "$(log_appended)" ""
check_true "the installer is not started" test ! -e "$record"
check "working folder removed" "$(working_folders)" ""

begin message_boxes
invalid_box='Invalid Archive!|We are sorry, but your installation / update did not complete due to unexpected download errors.\r\nPlease download full version of the program'
run "$packages/broken.exe" ""
check "a record failing its digest: the reader's box, then the launcher's" "$boxes" "$invalid_box"$'\n'"$invalid_box"
check "exit code" "$exit_code" 1
run "$packages/broken.exe" "/S"
check "a capital /S does not silence the boxes" "$boxes" "$invalid_box"$'\n'"$invalid_box"
run "$packages/broken.exe" '/v"/s"'
check "a /s inside the /V text does" "$boxes" ""
run "$packages/empty-name.exe" ""
box=$(head -n 1 <<<"$boxes")
check "a file that cannot be written: the reader's box names it" \
    "$(sed 's/QV[0-9]*\\\\\\rError: .*/QV…/' <<<"$box")" "Failed to extract file!|File: ${temp//\\/\\\\}\\\\QV…"
check "no installer is started from an incomplete extraction" "$(tail -n +2 <<<"$boxes")" "$invalid_box"
check_true "the installer does not run" test ! -e "$record"
check "exit code" "$exit_code" 1
check "working folder removed" "$(working_folders)" ""
run "$packages/example.exe" ""
check "a run that succeeds shows nothing" "$boxes/$exit_code" "/0"

begin left_behind
run "$packages/example.exe" "/s" QV_TEST_LEAVE_BEHIND=1
check "exit code" "$exit_code" 0
folder=$(working_folders)
check_true "a read-only file keeps the working folder" test -f "$temp_posix/$folder/read-only.txt"
check_true "a dot folder is passed over" test -f "$temp_posix/$folder/.cache/kept"
check_true "other files and folders are removed" test ! -e "$temp_posix/$folder/removed.txt" -a ! -e "$temp_posix/$folder/sub"
[ -n "$folder" ] && chmod -R u+w "$temp_posix/$folder" && rm -rf "${temp_posix:?}/$folder"

begin single_instance
release="$case_dir/release"
first="$case_dir/first"
mkdir -p "$first"
printf '' > "$first/arguments"
QV_TEST_RECORD="$(dos "$first/record")" QV_TEST_RELEASE="$(dos "$release")" \
    wine "$runner" "$(dos "$packages/example.exe")" "$(dos "$first/arguments")" "$(dos "$first/result")" &
first_pid=$!
for _ in $(seq 300); do [ -f "$first/record" ] && break; sleep 0.1; done
check_true "the first package's installer runs" test -f "$first/record"
held=$(working_folders)
log_mark
run "$packages/plain.exe" ""
check "a second package ends with 1 while the first runs" "$exit_code" 1
check "and says so" "$boxes" 'Already Running|Another installation is already running or in the process of starting up.\nPlease wait until the other installation has completed before trying again.'

check_true "the second package starts no installer" test ! -e "$record"
check "the second package makes no working folder" "$(working_folders)" "$held"
check "nor any launch line" "$(log_appended)" ""
touch "$release"
wait "$first_pid"
check "the first package then ends with its installer's code" "$(result exit "$first/result")" 0
check "working folder removed" "$(working_folders)" ""
started=$(date +%s)
run "$packages/example.exe" "/s"
check "a later package runs again" "$exit_code" 0

begin large_payload
# A packed file of several MiB: its buffer comes from the system's page
# allocator, not the heap. Compared while the installer holds the folder.
head -c $((5 * 1048576 + 7)) /dev/urandom > "$case_dir/large.bin"
"$qvpack" build -o "$case_dir/large.exe" --stub "$launcher" --stub-file-name Reader.exe \
    --file installer32 setup.exe "$installer" --file data large.bin "$case_dir/large.bin" \
    --value executable32 %installer32% >/dev/null
release="$case_dir/release"
printf '' > "$case_dir/arguments"
QV_TEST_RECORD="$(dos "$case_dir/record")" QV_TEST_RELEASE="$(dos "$release")" \
    wine "$runner" "$(dos "$case_dir/large.exe")" "$(dos "$case_dir/arguments")" "$(dos "$case_dir/result")" &
large_pid=$!
for _ in $(seq 300); do [ -f "$case_dir/record" ] && break; sleep 0.1; done
folder=$(working_folders)
check_true "the large file arrives whole" cmp -s "$case_dir/large.bin" "$temp_posix/$folder/large.bin"
touch "$release"
wait "$large_pid"
check "and the run ends with its installer's code" "$(result exit "$case_dir/result")" 0

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

begin run_log
# The runs above appended their launch lines (checked with each run) to one
# log, which holds one byte order mark, at its start.
check "one byte order mark, at the start" \
    "$(head -c 3 "$log_file" | od -An -tx1 | tr -d ' ')/$(grep -c $'\xEF\xBB\xBF' "$log_file")" "efbbbf/1"

begin crash_dump
# A program of the product that initialises its environment without a module
# handle leaves a minidump, written by Wine's dbghelp.dll, in the per-user
# data folder's Dumps, named after the program and the time.
started=$(date +%s)
wine "$crasher" >/dev/null 2>&1
dumps=$(find "$WINEPREFIX/drive_c/users" -path "*/Lindhale/$product/Dumps/qv_wine_crasher.exe.*.dmp" 2>/dev/null)
check "one dump" "$(wc -l <<<"$dumps" | tr -d ' ')/$([ -n "$dumps" ] && echo found)" "1/found"
seconds=$(sed -n 's/.*\.exe\.\([0-9]*\)\.dmp$/\1/p' <<<"$dumps")
check_true "named after the time of the crash" test -n "$seconds" -a "${seconds:-0}" -ge "$started"
check "a minidump" "$(head -c 4 "$dumps" 2>/dev/null)" "MDMP"

begin windows_package_tool
# The package tool built for Windows writes the same bytes as the native one.
manifest_path() { dos "$1" | sed 's/\\/\\\\/g'; }
{
    printf 'stub "%s" Reader.exe\n' "$(manifest_path "$launcher")"
    printf 'file installer32 setup.exe "%s"\n' "$(manifest_path "$installer")"
    printf '%s\n' 'value executable32 %installer32%' 'value parameters "/V\"PARTNERID=5 WEBINSTALLER=1 \""' \
        'value msilog ON'
} > "$case_dir/manifest"
wine "$windows_qvpack" build -o "$(dos "$case_dir/package.exe")" --manifest "$(dos "$case_dir/manifest")" \
    > "$case_dir/output" 2>&1
check_true "qvpack.exe writes the package the native qvpack writes" cmp -s "$case_dir/package.exe" "$packages/example.exe"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
