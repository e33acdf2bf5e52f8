#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/freed_heap.h"
#include "ui/framework/cstring.h"

namespace {

constexpr char kPin[] = "Neue PIN für Käsebrötchen €";
constexpr char kLongerPin[] = "Neue PIN für Käsebrötchen €, und noch viel länger als vorher";

TEST(FreedHeap, HoldsNoPinAfterCStringsAssignCopyMoveAndGrow) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << "under AddressSanitizer its allocator owns operator delete and free";
    }
    const std::vector<testing_support::Needle> needles = testing_support::PinForms(kPin);
    const testing_support::FreedHeapWatch watch(needles);
    {
        CString pin(kPin);
        CString copy(pin);
        CString assigned;
        assigned = pin;
        CString moved(std::move(copy));
        assigned = std::move(moved);
        pin = kLongerPin;  // grows into a new block
        pin = "kurz";
        CString grown("x");
        grown = kPin;
        grown = kLongerPin;
        assigned.Empty();
        EXPECT_STREQ(pin, "kurz");
    }
    EXPECT_THAT(watch.Hits(), testing::IsEmpty());
}

}  // namespace
