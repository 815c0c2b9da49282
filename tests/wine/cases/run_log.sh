# The Wine suite: the run log that the cases before appended to. Sourced
# by run.sh.

begin run_log
# The runs above appended their launch lines (checked with each run) to one
# log, which holds one byte order mark, at its start.
check "one byte order mark, at the start" \
    "$(head -c 3 "$log_file" | od -An -tx1 | tr -d ' ')/$(grep -c $'\xEF\xBB\xBF' "$log_file")" "efbbbf/1"
