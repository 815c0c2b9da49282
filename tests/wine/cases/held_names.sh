# The Wine suite: what a run holds against the user's other programs, which
# may write the download and temporary folders: the package's own file and
# the working folder cannot be renamed while the run lasts (Wine enforces
# sharing modes as Windows does: error 32). Sourced by run.sh.

begin held_names
cp "$packages/example.exe" "$case_dir/held.exe"
release="$case_dir/release"
rm -f "$release" "$case_dir/record" "$case_dir/result"
env QV_TEST_RECORD="$(dos "$case_dir/record")" QV_TEST_RELEASE="$(dos "$release")" timeout "$run_limit" \
    wine "$runner" "$(dos "$case_dir/held.exe")" "$(dos /dev/null)" "$(dos "$case_dir/result")" >/dev/null 2>&1 &
held_run=$!
for _ in $(seq 600); do [ -f "$case_dir/record" ] && break; sleep 0.1; done
# moved FROM TO: what the system said to a rename of FROM.
moved() {
    rm -f "$case_dir/moved"
    wine "$runner" --move "$1" "$2" "$(dos "$case_dir/moved")" >/dev/null 2>&1
    cat "$case_dir/moved" 2>/dev/null
}
check "the package cannot be renamed while it runs" \
    "$(moved "$(dos "$case_dir/held.exe")" "$(dos "$case_dir/renamed.exe")")" "error=32"
held_folder=$(field command_line "$case_dir/record" | sed -n 's/^"\(.*\)\\setup\.exe".*/\1/p')
check "nor its working folder while the installer runs" "$(moved "$held_folder" "$held_folder-moved")" "error=32"
touch "$release"
wait "$held_run"
check "and the run ends with the installer's exit code" "$(result exit "$case_dir/result")" 0
check "its working folder removed" "$(working_folders)" ""
