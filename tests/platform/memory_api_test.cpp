#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/memory_api.h"
#include "tests/support/secret_scan.h"

namespace {

using testing_support::Needle;

const std::vector<Needle> kMarker = {{"marker", "a secret the callee left, 32 B."}};

// Leaves the marker in a dead frame some KiB deep, as a key derivation leaves its state.
[[gnu::noinline]] void LeaveMarkerDeep() {
    std::array<char, 16 * 1024> frame{};
    std::memcpy(frame.data(), kMarker[0].bytes.data(), kMarker[0].bytes.size());
    SecureZeroMemory(frame.data() + kMarker[0].bytes.size(), 1);  // keeps the frame's writes
}

std::vector<std::string> FoundAfter(bool wipe) {
    std::vector<unsigned char> stack(1 << 20, 0);
    testing_support::RunOnStack(stack, [wipe] {
        LeaveMarkerDeep();
        if (wipe) {
            WipeStackBelowCaller();
        }
    });
    return testing_support::FindNeedles(stack, kMarker);
}

TEST(WipeStackBelowCaller, ZeroesWhatTheCalleesLeft) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer lays out frames of its own and poisons their redzones";
#endif
    EXPECT_THAT(FoundAfter(false), testing::ElementsAre("marker"));  // the search sees it
    EXPECT_THAT(FoundAfter(true), testing::IsEmpty());
}

}  // namespace
