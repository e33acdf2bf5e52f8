#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "core/soft_certificate.h"
#include "tests/support/fixtures.h"
#include "tests/support/secret_scan.h"

namespace {

using testing_support::Fixtures;
using testing_support::Needle;

// Short enough that a std::string would keep it inside its own object, on the stack.
constexpr char kNewPin[] = "Früh€2";
constexpr unsigned char kUnused = 0xA5;

std::vector<Needle> Secrets() {
    std::vector<Needle> needles =
        testing_support::RsaPrivateParts(Fixtures::Get().Path("leaf.key"));
    for (const std::string& pin : {testing_support::kPin, std::string(kNewPin)}) {
        for (Needle& form : testing_support::PinForms(pin)) {
            needles.push_back(std::move(form));
        }
    }
    return needles;
}

// How much of the stack, from its top, was written.
std::size_t Used(const std::vector<unsigned char>& stack) {
    const auto first = std::find_if(stack.begin(), stack.end(),
                                    [](unsigned char byte) { return byte != kUnused; });
    return static_cast<std::size_t>(stack.end() - first);
}

// Bytes below this function's frame that are neither untouched nor zero: what the functions
// called before it at the same depth left behind.
[[gnu::noinline]] std::size_t LeftBelowHere(const std::vector<unsigned char>& stack) {
    constexpr std::ptrdiff_t kOwnFrame = 256;
    const auto* const here = static_cast<const unsigned char*>(__builtin_frame_address(0));
    return static_cast<std::size_t>(std::count_if(
        stack.data(), here - kOwnFrame, [](auto byte) { return byte != 0 && byte != kUnused; }));
}

// A change of a file in a thread of its own, on a stack the test can read afterwards.
struct ChangeOnOwnStack {
    testing_support::TempDir dir;
    std::string path;
    CByteBuffer certificate;
    std::vector<unsigned char> stack = std::vector<unsigned char>(2 << 20, kUnused);
    Outcome outcome = Outcome::CannotSave;
    std::size_t leftBelow = 0;

    explicit ChangeOnOwnStack(const std::string& fixture)
        : path(Fixtures::Get().CopyTo(fixture, dir)) {
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
        testing_support::RunOnStack(stack, [this] {
            outcome = ChangePin(certificate, path.c_str(), testing_support::kPin.c_str(), kNewPin,
                                kNewPin);
            leftBelow = LeftBelowHere(stack);
        });
    }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
constexpr char kSanitizerLayout[] =
    "AddressSanitizer lays out frames of its own and poisons their redzones";

TEST(ChangePinStack, LeavesNeitherKeyNorPinsBehind) {
    if (kAddressSanitizer) {
        GTEST_SKIP() << kSanitizerLayout;
    }
    const std::vector<Needle> secrets = Secrets();
    for (const char* fixture : {"modern.p12", "legacy.p12"}) {
        const ChangeOnOwnStack change(fixture);
        ASSERT_EQ(change.outcome, Outcome::PinChanged);
        std::cout << fixture << ": the thread wrote " << Used(change.stack) << " bytes of stack\n";
        EXPECT_THAT(testing_support::FindNeedles(change.stack, secrets), testing::IsEmpty())
            << fixture;
    }
}

// Whatever the change wrote below ChangePin's frame is zero when it returns, except the few
// return addresses of the wipe itself.
TEST(ChangePinStack, LeavesOnlyZerosBelowItsFrame) {
    if (kAddressSanitizer) {
        GTEST_SKIP() << kSanitizerLayout;
    }
    const ChangeOnOwnStack change("modern.p12");
    ASSERT_EQ(change.outcome, Outcome::PinChanged);
    EXPECT_LE(change.leftBelow, 64u) << "left " << change.leftBelow;
}

}  // namespace
