#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/soft_certificate.h"
#include "tests/support/fixtures.h"
#include "tests/support/freed_heap.h"

namespace {

using testing::IsEmpty;
using testing_support::Fixtures;
using testing_support::FreedHeapWatch;
using testing_support::PinForms;

// Long enough that every std::string holding it keeps it on the heap.
constexpr char kLongPin[] = "Neue PIN für Käsebrötchen €";
// Short enough for a std::string's own storage; its heap copies come from elsewhere.
constexpr char kShortPin[] = "Früh€2";

constexpr char kNotWatched[] = "under AddressSanitizer its allocator owns free and operator delete";

std::vector<std::string> HitsOfChange(const std::string& fixture, const char* newPin) {
    const testing_support::TempDir dir;
    const std::string path = Fixtures::Get().CopyTo(fixture, dir);
    CByteBuffer certificate;
    EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    const std::vector<testing_support::Needle> needles = PinForms(newPin);
    const FreedHeapWatch watch(needles);
    EXPECT_EQ(ChangePin(certificate, path.c_str(), testing_support::kPin.c_str(), newPin, newPin),
              Outcome::PinChanged);
    return watch.Hits();
}

TEST(FreedHeap, SeesAPinFreedUnwiped) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    const std::vector<testing_support::Needle> needles = PinForms(kLongPin);
    const FreedHeapWatch watch(needles);
    std::make_unique<std::string>(kLongPin).reset();
    EXPECT_EQ(watch.Hits().size(), 1u);
    std::free(strdup(kLongPin));
    EXPECT_EQ(watch.Hits().size(), 2u);
}

TEST(FreedHeap, OpensslWipesWhatItFrees) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    const std::vector<testing_support::Needle> needles = PinForms(kLongPin);
    const FreedHeapWatch watch(needles);
    OPENSSL_free(OPENSSL_strdup(kLongPin));
    char* const grown = OPENSSL_strdup(kLongPin);
    OPENSSL_free(OPENSSL_realloc(grown, 4096));  // moves the block
    EXPECT_THAT(watch.Hits(), IsEmpty());
}

TEST(FreedHeap, HoldsNoNewPinAfterAModernChange) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    EXPECT_THAT(HitsOfChange("modern.p12", kLongPin), IsEmpty());
    EXPECT_THAT(HitsOfChange("modern.p12", kShortPin), IsEmpty());
}

TEST(FreedHeap, HoldsNoNewPinAfterALegacyChange) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    EXPECT_THAT(HitsOfChange("legacy.p12", kLongPin), IsEmpty());
    EXPECT_THAT(HitsOfChange("old-encoding.p12", kLongPin), IsEmpty());
}

TEST(FreedHeap, HoldsNoOldPinAfterAChange) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    const testing_support::TempDir dir;
    const std::string path = Fixtures::Get().CopyTo("legacy.p12", dir);
    CByteBuffer certificate;
    ASSERT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    const std::vector<testing_support::Needle> needles = PinForms(testing_support::kPin);
    const FreedHeapWatch watch(needles);
    EXPECT_EQ(
        ChangePin(certificate, path.c_str(), testing_support::kPin.c_str(), kLongPin, kLongPin),
        Outcome::PinChanged);
    EXPECT_THAT(watch.Hits(), IsEmpty());
}

}  // namespace
