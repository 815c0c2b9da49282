# The Wine suite: the Windows build's unit tests and the one Win32 suite
# (tests/win32), whose summary line says how many of its cases are skipped
# here as documented differences. Sourced by run.sh.

begin unit_tests
# Wine words the system's message texts differently from Windows.
if wine "$unit_tests" --gtest_brief=1 --gtest_filter='-format.system_error_text' \
        > "$case_dir/output" 2>&1; then
    pass "the Windows build's unit tests"
else
    fail "the Windows build's unit tests"
    sed 's/^/       /' "$case_dir/output"
fi

begin win32_suite
if wine "$win32_suite" --gtest_brief=1 > "$case_dir/output" 2>&1; then
    pass "$(tr -d '\r' < "$case_dir/output" | grep '^win32 suite on ')"
else
    fail "the one Win32 suite"
    sed 's/^/       /' "$case_dir/output"
fi
