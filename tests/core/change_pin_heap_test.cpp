#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/soft_certificate.h"
#include "tests/support/fixtures.h"
#include "tests/support/freed_heap.h"
#include "tests/support/pfx_builder.h"

namespace {

using testing::IsEmpty;
using testing_support::Fixtures;
using testing_support::FreedHeapWatch;
using testing_support::Needle;
using testing_support::PinForms;

// Long enough that every std::string holding it keeps it on the heap.
constexpr char kLongPin[] = "Neue PIN für Käsebrötchen €";
// Short enough for a std::string's own storage; its heap copies come from elsewhere.
constexpr char kShortPin[] = "Früh€2";

constexpr char kNotWatched[] = "under AddressSanitizer its allocator owns free and operator delete";

// What no freed block may hold after a change: the new PIN's forms, the private parts of the
// fixtures' RSA key and the secret key's value. The lists the needles are copied from live as
// long as they: a list that went, or grew, would leave its short forms freed and unwiped.
struct Secrets {
    explicit Secrets(const char* newPin)
        : pin(PinForms(newPin)),
          key(testing_support::RsaPrivateParts(Fixtures::Get().Path("leaf.key"))) {
        all.reserve(pin.size() + key.size() + 1);
        all.insert(all.end(), pin.begin(), pin.end());
        all.insert(all.end(), key.begin(), key.end());
        all.push_back({"secret key", testing_support::kSecretKey});
    }
    const std::vector<Needle> pin, key;
    std::vector<Needle> all;
};

std::vector<std::string> HitsOfChange(const std::string& file, const char* newPin) {
    const testing_support::TempDir dir;
    const std::string path = dir / "file.p12";
    testing_support::WriteAll(path, file);
    CByteBuffer certificate;
    EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    const Secrets secrets(newPin);
    const FreedHeapWatch watch(secrets.all);
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

TEST(FreedHeap, HoldsNeitherNewPinNorKeysAfterAModernChange) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    const std::string modern = Fixtures::Get().Bytes("modern.p12");
    EXPECT_THAT(HitsOfChange(modern, kLongPin), IsEmpty());
    EXPECT_THAT(HitsOfChange(modern, kShortPin), IsEmpty());
    EXPECT_THAT(HitsOfChange(testing_support::BuildSecretKey(testing_support::kPin,
                                                             testing_support::kSecretKey),
                             kLongPin),
                IsEmpty());
}

TEST(FreedHeap, HoldsNeitherNewPinNorKeysAfterALegacyChange) {
    if (!testing_support::FreedHeapIsWatched()) {
        GTEST_SKIP() << kNotWatched;
    }
    EXPECT_THAT(HitsOfChange(Fixtures::Get().Bytes("legacy.p12"), kLongPin), IsEmpty());
    EXPECT_THAT(HitsOfChange(Fixtures::Get().Bytes("old-encoding.p12"), kLongPin), IsEmpty());
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
