# The Wine suite: the clean-up when another program still holds a file of
# the working folder (a virus scanner does for a while after a file was
# written or run): the installer leaves a copy of itself running from the
# folder. The clean-up tries again for about ten seconds; what still stays
# is left to the system's next start. Sourced by run.sh.

begin held_files
run "$packages/example.exe" "/s" QV_TEST_HOLD=2
check "a file held for 2 s after the installer: the installer's exit code" "$exit_code" 0
check "and the working folder is removed once it is free" "$(working_folders)" ""

before=$(date +%s)
run "$packages/example.exe" "/s" QV_TEST_HOLD=60
took=$(($(date +%s) - before))
check "a file held for a minute: the installer's exit code" "$exit_code" 0
check_true "and the run ends within the bound ($took s)" test "$took" -lt 30
held_folder=$(working_folders)
session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'
pending=$(wine reg query "$session_manager" /v PendingFileRenameOperations 2>/dev/null)
check_true "and its folder is left to the system's next start" \
    test -n "$held_folder" -a -n "$(grep -F "$held_folder" <<<"$pending")"
# The holder goes with the server; the suite's folders and registry are as before.
wineserver -k >/dev/null 2>&1
wine reg delete "$session_manager" /v PendingFileRenameOperations /f >/dev/null 2>&1
[ -z "$held_folder" ] || rm -rf "${temp_posix:?}/$held_folder"
