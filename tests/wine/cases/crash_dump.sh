# The Wine suite: the crash dump writer through Wine's debug help
# library. Sourced by run.sh.

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
