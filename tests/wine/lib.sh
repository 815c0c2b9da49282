# The Wine suite's helpers: counting, checks, running a package under Wine
# and through the POSIX layer, reading records and the run log. Sourced by
# run.sh after it has set up the prefix variables.

passed=0
failed=0
# Seconds a package run may take under Wine before it counts as hung.
run_limit=${QV_WINE_RUN_LIMIT:-120}
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
# A run that takes longer than run_limit seconds sets exit_code to "hung".
run() {
    local package=$1 arguments=$2
    shift 2
    record="$case_dir/record"
    rm -f "$record" "$case_dir/result"
    printf '%s' "$arguments" > "$case_dir/arguments"
    env QV_TEST_RECORD="$(dos "$record")" WINEDEBUG=-all,+relay "$@" \
        timeout "$run_limit" wine "$runner" "$(dos "$package")" "$(dos "$case_dir/arguments")" \
        "$(dos "$case_dir/result")" 2>"$case_dir/trace"
    if [ $? -eq 124 ]; then
        # A hang is a failure of the case, not of the suite: end what the
        # run left inside Wine (the server starts again with the next run).
        wineserver -k >/dev/null 2>&1
        exit_code=hung
    else
        exit_code=$(result exit "$case_dir/result" 2>/dev/null)
    fi
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
    local command_line name seconds
    command_line=$(field command_line "$record")
    # "QV" and the seconds, and "_N" when that name was taken.
    name=$(printf '%s' "$command_line" | sed -n 's/^"[^"]*\\\(QV[0-9]*\(_[0-9]*\)\?\)\\setup\.exe".*/\1/p')
    seconds=$(printf '%s' "$name" | sed 's/^QV\([0-9]*\).*/\1/')
    if [ -z "$seconds" ] || [ "$seconds" -lt "$started" ] || [ "$seconds" -gt "$(date +%s)" ]; then
        fail "$description: working folder named after the time of the run"
        printf '       command line: %s\n' "$command_line"
        return
    fi
    pass "$description: working folder named after the time of the run"
    local folder="$temp\\$name"
    check "$description: command line" "$command_line" "\"$folder\\setup.exe\" $parameters"
    check "$description: started in the temporary directory" "$(field cwd "$record")" "$temp"
    check "$description: working folder removed" "$(working_folders)" ""
    check "$description: the five launch lines in Wine's Reader.log.txt" "$(log_appended)" \
        "$(printf '\n%s\nFile: %s\nParameters: %s\n' "$product" "$folder\\setup.exe" "$parameters")"
}
