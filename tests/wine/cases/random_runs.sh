# The Wine suite: the end-to-end tests' random runs (tests/e2e/
# composition_test.cpp) on a fixed sample against the Windows launcher,
# each with a time limit; the summary line gives cases, mismatches, hangs
# and time. QV_RANDOM_SEED and QV_WINE_ROUNDS choose another sample.
# Sourced by run.sh.

begin random_runs
if QV_WINE_RUNNER="$runner" QV_WINE_LAUNCHER="$launcher" QV_WINE_INSTALLER="$installer" QV_WINE_TEMP="$temp_posix" \
        "$native_e2e" --gtest_brief=1 \
        --gtest_filter='composition.random_runs_of_the_windows_launcher_under_wine_match_the_model' \
        > "$case_dir/output" 2>&1; then
    pass "$(grep '^wine differential' "$case_dir/output")"
else
    fail "random runs of the Windows launcher: $(grep '^wine differential' "$case_dir/output")"
    sed 's/^/       /' "$case_dir/output" | head -n 60
fi
