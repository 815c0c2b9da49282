# The Wine suite: the Windows build's unit tests. Sourced by run.sh.

begin unit_tests
# Wine words the system's message texts differently from Windows, and its
# runtime prints an unknown conversion instead of failing it.
if wine "$unit_tests" --gtest_brief=1 \
        --gtest_filter='-format.system_error_text:format.an_unrenderable_format_ends_in_an_error' \
        > "$case_dir/output" 2>&1; then
    pass "the Windows build's unit tests"
else
    fail "the Windows build's unit tests"
    sed 's/^/       /' "$case_dir/output"
fi
