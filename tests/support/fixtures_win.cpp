#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/fixtures.h"

namespace testing_support {

void MakeScriptFixtures(const std::string& dir) {
    const char* const made = std::getenv("PINTOOL_FIXTURES");
    if (made == nullptr || !std::filesystem::exists(std::filesystem::path(made) / "modern.p12")) {
        throw std::runtime_error("PINTOOL_FIXTURES names no folder made by make_fixtures.sh");
    }
    // Copies, so that no test can change what the next test program starts from.
    std::filesystem::copy(made, dir, std::filesystem::copy_options::recursive);
}

}  // namespace testing_support
