# The Wine suite: the Windows build's unit tests. Sourced by run.sh.

begin unit_tests
# Wine words the system's message texts differently from Windows.
if wine "$unit_tests" --gtest_brief=1 --gtest_filter='-format.system_error_text' \
        > "$case_dir/output" 2>&1; then
    pass "the Windows build's unit tests"
else
    fail "the Windows build's unit tests"
    sed 's/^/       /' "$case_dir/output"
fi
