# The Wine suite: names that the system's code page (1252 here) cannot
# spell. A temporary directory, a download folder and a package name in
# Cyrillic or Chinese: the run takes the paths' short forms and installs.
# Sourced by run.sh.

begin code_page
for name in "Загрузки" "下载"; do
    folder="$case_dir/$name"
    mkdir -p "$folder/temp"
    cp "$packages/example.exe" "$folder/установка.exe"
    run "$folder/установка.exe" "/s" QV_WINE_TEMP="$(dos "$folder/temp")"
    check "$name: temporary directory, folder and package name outside the code page: exit code" "$exit_code" 0
    program=$(field command_line "$record" 2>/dev/null | sed -n 's/^"\([^"]*\)".*/\1/p')
    check_true "$name: the installer started from a working folder the code page spells" \
        test -n "$program" -a -z "$(printf '%s' "$program" | tr -d '\040-\176')"
    check_true "$name: the log written in that temporary directory" test -s "$folder/temp/Reader.log.txt"
    check "$name: its working folder removed" "$(cd "$folder/temp" && ls -d QV[0-9]* 2>/dev/null)" ""
done
