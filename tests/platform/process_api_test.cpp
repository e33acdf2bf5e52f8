#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include "platform/process_api.h"
#include "tests/support/test_files.h"

namespace {

// In a child, since the test program itself should stay debuggable. The child first allows
// core files as far as the hard limit lets it, so that a limit of 0 is the function's doing.
TEST(ForbidCoreDumps, MakesTheProcessUndumpableWithACoreLimitOfZero) {
    const pid_t child = testing_support::StartChild([] {
        rlimit limit{};
        getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_CORE, &limit);
        if (prctl(PR_GET_DUMPABLE) != 1) {
            return 10;  // nothing left to check
        }
        if (!ForbidCoreDumps()) {
            return 11;
        }
        if (prctl(PR_GET_DUMPABLE) != 0) {
            return 12;
        }
        getrlimit(RLIMIT_CORE, &limit);
        return limit.rlim_cur == 0 && limit.rlim_max == 0 ? 0 : 13;
    });
    EXPECT_EQ(testing_support::WaitChild(child), 0);
}

}  // namespace
