# The Wine suite: the Windows build's unit tests (also under ANSI code page
# 65001) and the one Win32 suite (tests/win32), whose summary line says how
# many of its cases are skipped here as documented differences. Sourced by
# run.sh.

begin unit_tests
if wine "$unit_tests" --gtest_brief=1 > "$case_dir/output" 2>&1; then
    pass "the Windows build's unit tests"
else
    fail "the Windows build's unit tests"
    sed 's/^/       /' "$case_dir/output"
fi

# The cases that need a UTF-8 ANSI code page: they must run, not skip.
if wine "$unit_tests_utf8" --gtest_brief=1 --gtest_filter='*utf8*' > "$case_dir/output-utf8" 2>&1 &&
        ! grep -q SKIPPED "$case_dir/output-utf8" && grep -q '1 test' "$case_dir/output-utf8"; then
    pass "the unit tests under ANSI code page 65001"
else
    fail "the unit tests under ANSI code page 65001"
    sed 's/^/       /' "$case_dir/output-utf8"
fi

begin win32_suite
if wine "$win32_suite" --gtest_brief=1 > "$case_dir/output" 2>&1; then
    pass "$(tr -d '\r' < "$case_dir/output" | grep '^win32 suite on ')"
else
    fail "the one Win32 suite"
    sed 's/^/       /' "$case_dir/output"
fi
