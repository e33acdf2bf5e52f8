#include <stdexcept>

#include "tests/support/fixtures.h"

namespace testing_support {

void MakeScriptFixtures(const std::string& dir) {
    const CommandResult made =
        Run(std::string("sh ") + PINTOOL_FIXTURE_SCRIPT + " " + Quote(dir) + " " + Quote(kPin));
    if (made.status != 0) {
        throw std::runtime_error("making fixtures failed: " + made.output);
    }
}

}  // namespace testing_support
