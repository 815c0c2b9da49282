# The Wine suite: real packages run silently and with message boxes: the
# worked examples, both platforms' parameters, exit codes, damaged archives,
# the clean-up, the single-instance guard and large payloads. Sourced
# by run.sh.

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
# Names Windows refuses, read first: qvpack verify calls the package
# invalid, and neither launcher extracts the file or starts the installer.
for name in 'a?b' 'a<b' 'a|b' "a$(printf '\001')b"; do
    shown=$(printf '%q' "$name")
    for side in windows native; do
        if [ "$side" = windows ]; then stub=$launcher program=$installer; else stub=$native_launcher program=$native_installer; fi
        "$qvpack" build -o "$packages/refused-$side" --stub "$stub" --stub-file-name Reader.exe \
            --file installer32 setup.exe "$program" "${example_values[@]}" --file other "$name" "$program" >/dev/null
    done
    "$qvpack" verify "$packages/refused-windows" >/dev/null 2>&1
    check "$shown: qvpack verify says invalid" "$?" 1
    run "$packages/refused-windows" ""
    check "$shown: the Windows launcher refuses it" \
        "$(cut -d'|' -f1 <<<"$boxes" | tr '\n' ' ')/$exit_code/$(test -e "$record" && echo ran)/$(working_folders)" \
        "Failed to extract file! Invalid Archive! /1//"
    chmod +x "$packages/refused-native"
    native_run "$packages/refused-native" ""
    check "$shown: the native launcher refuses it" "$native_exit_code/$(test -e "$native_record" && echo ran)" "1/"
done
# An installer path that names a folder is never started (Wine would open
# it in its explorer, and the launcher wait for that without end): no
# executable32, an empty one, one that expands to nothing, "." and "..".
spawn_box="ShellExecuteEx failed|Unable to spawn process"
for executable in none '' '%nothing%' '.' '..\'; do
    values=(--value nothing "")
    [ "$executable" = none ] || values+=(--value executable32 "$executable")
    "$qvpack" build -o "$packages/folder.exe" --stub "$launcher" --stub-file-name Reader.exe \
        --file installer32 setup.exe "$installer" "${values[@]}" >/dev/null
    run "$packages/folder.exe" ""
    check "executable32 ${executable:-empty} names a folder: not started" \
        "$boxes/$exit_code/$(working_folders)" "$spawn_box/1/"
done
run "$packages/example.exe" ""
check "a run that succeeds shows nothing" "$boxes/$exit_code" "/0"
# Without the hash API's provider no digest can be computed: every record
# fails its check, the tail record first.
run "$packages/example.exe" "" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rsaenh="
check "a digest that cannot be computed does not match" "$boxes/$exit_code" "$invalid_box"$'\n'"$invalid_box/1"

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
# Packed files of several MiB and of more than 1 GiB (the launcher is
# large-address-aware): their buffers come from the system's page
# allocator, not the heap. Compared while the installer holds the folder;
# the data is made twice from a stream rather than stored.
pseudo_random() { openssl enc -aes-128-ctr -K 00 -iv 00 -nosalt </dev/zero 2>/dev/null | head -c "$1"; }
for size in $((5 * 1048576 + 7)) $((1100 * 1048576 + 7)); do
    "$qvpack" build -o "$case_dir/large.exe" --stub "$launcher" --stub-file-name Reader.exe \
        --file installer32 setup.exe "$installer" --file data large.bin <(pseudo_random "$size") \
        --value executable32 %installer32% >/dev/null
    release="$case_dir/release"
    rm -f "$release" "$case_dir/record"
    printf '' > "$case_dir/arguments"
    large_started=$(date +%s)
    QV_TEST_RECORD="$(dos "$case_dir/record")" QV_TEST_RELEASE="$(dos "$release")" \
        wine "$runner" "$(dos "$case_dir/large.exe")" "$(dos "$case_dir/arguments")" "$(dos "$case_dir/result")" &
    large_pid=$!
    for _ in $(seq 1200); do [ -f "$case_dir/record" ] && break; sleep 0.1; done
    folder=$(working_folders)
    check_true "$size bytes arrive whole (in $(($(date +%s) - large_started)) s)" \
        cmp -s <(pseudo_random "$size") "$temp_posix/$folder/large.bin"
    touch "$release"
    wait "$large_pid"
    check "and the run ends with its installer's code" "$(result exit "$case_dir/result")" 0
done
rm -f "$case_dir/large.exe"
