// Helpers of the hardening tests: a tiny installer that only marks that it
// was started, and the check that a run left nothing where it should not.
#pragma once

#include "tests/e2e/e2e.h"
#include "tests/support/package_writer.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace hardening {

// A packed installer of a few bytes: it creates the file the test installer
// would record to, so run_result::record() tells whether it was started.
const char marking_installer[] = "#!/bin/sh\n: >\"$QV_TEST_RECORD\"\n";

const e2e::message_box invalid_archive{"Invalid Archive!",
                                       "We are sorry, but your installation / update did not complete due to "
                                       "unexpected download errors.\r\nPlease download full version of the program"};

// A package of the real launcher: the stub group, whatever add writes, the
// tail record. Returns its path in the sandbox.
std::string build_package(e2e::sandbox& box, const std::string& name,
                          const std::function<void(qv_test::package_writer&)>& add);

// The marking installer as "installer32" and executable32 naming it.
void add_marking_installer(qv_test::package_writer& writer);

// What a finished run left that it must not have: anything in its
// temporary directory but the launcher's own log, anything on drive C:,
// and anything in the sandbox root that the tests did not make. Empty when
// the run stayed inside its working folder (and removed it).
std::vector<std::string> stray_writes(const e2e::sandbox& box, const e2e::run_result& result);

// "name (size)" list of what a folder holds, for messages.
std::string describe(const std::vector<std::string>& names);

}  // namespace hardening
