# The Wine suite: DLLs planted where a download could put them. A test DLL
# that leaves a marker when loaded is copied, under every name below,
# beside a package, into the current directory and into folders that bear
# the working folder's next names, and Wine is told to
# prefer such native copies to its own (WINEDLLOVERRIDES name=n,b). The run
# must end with the installer's exit code, leave no marker, and Wine's
# +loaddll trace must show every DLL coming from the system folders.
# Sourced by run.sh.

plant="$windows_build/tests/wine/qv_wine_plant.dll"

# Loaded before the launcher's first instruction, and known DLLs that
# Windows maps from its own folder only (Wine does not: a planted copy of
# these is loaded, so they are not planted here).
known_dlls="ntdll kernelbase kernel32 msvcrt"
# Names with a public record of hijacked installers.
classic_dlls="version uxtheme dwmapi cryptbase propsys bcrypt crypt32 profapi userenv netutils textshaping winmm"

# The DLL names a trace lists, lower case, without ".dll", one per line.
traced_names() { sed -n 's/.*trace:loaddll:.*Loaded L".*\\\([^\\"]*\)\.dll".*/\1/p' "$@" | tr 'A-Z' 'a-z' | sort -u; }

# Paths the trace shows loaded from outside Wine's system folders, but the
# programs themselves (the package and the installer in its working folder).
foreign_loads() {
    sed -n 's/.*trace:loaddll:.*Loaded L"\([^"]*\)".*/\1/p' "$1" | sed 's/\\\\/\\/g' |
        grep -viE '^C:\\windows\\(system32|winsxs)\\|\.exe$'
}

# plant_copies FOLDER NAME...: the test DLL as NAME.dll in FOLDER.
plant_copies() {
    local folder=$1 name
    shift
    mkdir -p "$folder"
    for name in "$@"; do cp "$plant" "$folder/$name.dll"; done
}

# native_first NAME...: the overrides that prefer a planted copy of each.
native_first() {
    local name overrides="$WINEDLLOVERRIDES"
    for name in "$@"; do overrides="$overrides;$name=n,b"; done
    printf '%s' "$overrides"
}

begin planted_dlls
imports=$("$objdump" -p "$launcher" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
check "the launcher imports only kernel32 and msvcrt when it is loaded" "$imports" "kernel32.dll msvcrt.dll "

# The names: every DLL of a whole run, silent and with message boxes, as
# Wine's trace lists them, and the classic ones.
cp "$packages/example.exe" "$packages/broken.exe" "$case_dir/"
(cd "$case_dir" && WINEDEBUG=-all,+loaddll wine example.exe /s 2>trace-example >/dev/null)
(cd "$case_dir" && WINEDEBUG=-all,+loaddll wine broken.exe 2>trace-broken >/dev/null)
names=$( (traced_names "$case_dir/trace-example" "$case_dir/trace-broken"; tr ' ' '\n' <<<"$classic_dlls") |
    grep -vxFf <(tr ' ' '\n' <<<"$known_dlls") | grep -v '^$' | sort -u | tr '\n' ' ')
echo "       names planted: $names"
check_true "the trace lists the run's DLLs" grep -qw shell32 <<<"$names"

# shellcheck disable=SC2086
plant_copies "$case_dir/package" $names
# shellcheck disable=SC2086
plant_copies "$case_dir/cwd" $names
mkdir -p "$case_dir/markers"
cp "$packages/example.exe" "$packages/broken.exe" "$case_dir/package/"
# shellcheck disable=SC2086
overrides=$(native_first $names)
planted_run() {
    (cd "$case_dir/cwd" && env QV_PLANT_MARKERS="$(dos "$case_dir/markers")" WINEDLLOVERRIDES="$overrides" \
        WINEDEBUG=-all,+loaddll "$@" 2>"$case_dir/trace" >/dev/null)
}

# The working folder too: every name it would first take in the next 20
# seconds is taken by a folder that holds the planted DLLs, and the
# installer loads each name by bare name, which searches its own folder
# first. The launcher leaves such folders alone and takes the next name.
planted_from=$(date +%s)
for second in $(seq "$planted_from" $((planted_from + 19))); do
    # shellcheck disable=SC2086
    plant_copies "$temp_posix/QV$second" $names
done
planted_run QV_TEST_EXIT_CODE=7 QV_TEST_RECORD="$(dos "$case_dir/record")" QV_TEST_LOAD="${names// /.dll }" \
    QV_TEST_FOLDER_SECURITY="$(dos "$case_dir/folder-security")" wine "$case_dir/package/example.exe" /s
check "a package among planted DLLs ends with its installer's exit code" "$?" 7
check "no DLL is loaded from outside the system folders" "$(foreign_loads "$case_dir/trace")" ""
seconds=$(field command_line "$case_dir/record" | sed -n 's/^"[^"]*\\QV\([0-9]*\)_[0-9]*\\setup\.exe".*/\1/p')
check_true "the installer ran in a new folder of its own beside a planted one" \
    test "${seconds:-0}" -ge "$planted_from" -a "${seconds:-0}" -lt $((planted_from + 20))
check "and the planted folder is left as it was" "$(ls "$temp_posix/QV$seconds" 2>/dev/null | wc -l)" \
    "$(wc -w <<<"$names")"
for second in $(seq "$planted_from" $((planted_from + 19))); do rm -rf "${temp_posix:?}/QV$second"; done
# Wine keeps no access list on a file: it turns the descriptor into the
# folder's Unix mode and reports the list that mode makes (SYSTEM always,
# the owner from the owner's bits, everyone from the others'). So what can
# be seen here is that no one but SYSTEM and the owner may use the folder.
security=$(cat "$case_dir/folder-security" 2>/dev/null)
owner=$(sed -n 's/^O:\([^D]*\)D:.*/\1/p' <<<"$security")
echo "       the working folder's descriptor as Wine reports it: $security"
check "and only SYSTEM and its owner may use it" "$security" "O:${owner}D:(A;OICI;FA;;;SY)(A;OICI;FA;;;$owner)"
planted_run wine "$case_dir/package/broken.exe"
check "nor while it shows its message boxes" "$(foreign_loads "$case_dir/trace")" ""
check "no planted DLL ran" "$(ls "$case_dir/markers")" ""

# A program of the product with the crash dump writer: the debug help
# library comes from the system folder, its planted copy stays unused.
rm -f "$case_dir/markers/"*
mkdir -p "$case_dir/crasher"
cp "$crasher" "$case_dir/crasher/planted_crasher.exe"
plant_copies "$case_dir/crasher" dbghelp
overrides=$(native_first dbghelp)
planted_run wine "$case_dir/crasher/planted_crasher.exe"
dumps=$(find "$WINEPREFIX/drive_c/users" -name 'planted_crasher.exe.*.dmp' 2>/dev/null)
check "the crash dump writer writes its dump" "$([ -n "$dumps" ] && head -c 4 "$dumps")" "MDMP"
check_true "with the system's debug help library" grep -qi 'system32\\\\dbghelp.dll' "$case_dir/trace"
check "and not the planted one" "$(foreign_loads "$case_dir/trace")/$(ls "$case_dir/markers")" "/"
