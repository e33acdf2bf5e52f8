#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>

#include "core/soft_certificate.h"
#include "pkcs12/parallel.h"
#include "tests/support/engine_switches.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"
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
    needles.push_back({"secret key", testing_support::kSecretKey});
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

    explicit ChangeOnOwnStack(const std::string& file) : path(dir / "file.p12") {
        testing_support::WriteAll(path, file);
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
        testing_support::RunOnStack(stack, [this] {
            outcome = ChangePin(certificate, path.c_str(), testing_support::kPin.c_str(), kNewPin,
                                kNewPin);
            leftBelow = LeftBelowHere(stack);
        });
    }
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedFrames = true;
#else
constexpr bool kSanitizedFrames = false;
#endif
constexpr char kSanitizerLayout[] = "the address and thread sanitizers lay out frames of their own";

TEST(ChangePinStack, LeavesNeitherKeyNorPinsBehind) {
    if (kSanitizedFrames) {
        GTEST_SKIP() << kSanitizerLayout;
    }
    const std::vector<Needle> secrets = Secrets();
    const std::pair<const char*, std::string> files[] = {
        {"modern.p12", Fixtures::Get().Bytes("modern.p12")},
        {"legacy.p12", Fixtures::Get().Bytes("legacy.p12")},
        {"a secret key",
         testing_support::BuildSecretKey(testing_support::kPin, testing_support::kSecretKey)}};
    for (const auto& [name, file] : files) {
        const ChangeOnOwnStack change(file);
        ASSERT_EQ(change.outcome, Outcome::PinChanged);
        std::cout << name << ": the thread wrote " << Used(change.stack) << " bytes of stack\n";
        EXPECT_THAT(testing_support::FindNeedles(change.stack, secrets), testing::IsEmpty())
            << name;
    }
}

// Whatever the change wrote below ChangePin's frame is zero when it returns, except the few
// return addresses of the wipe itself.
TEST(ChangePinStack, LeavesOnlyZerosBelowItsFrame) {
    if (kSanitizedFrames) {
        GTEST_SKIP() << kSanitizerLayout;
    }
    const ChangeOnOwnStack change(Fixtures::Get().Bytes("modern.p12"));
    ASSERT_EQ(change.outcome, Outcome::PinChanged);
    EXPECT_LE(change.leftBelow, 64u) << "left " << change.leftBelow;
}

// What the extra threads of a change leave on their stacks, looked at as each ends.
std::atomic<const std::vector<Needle>*> g_secrets{nullptr};
std::atomic<const Needle*> g_foundOnThread{nullptr};
std::atomic<int> g_threadsLookedAt{0};

// Where the thread's jobs ran: just below the frame that calls this one, well within the
// thread's stack of several MiB. Copied before anything else runs there, but for the little
// this function's own frame and the copy's return address take.
constexpr std::size_t kSkipped = 128, kLooked = 256 * 1024;
std::array<unsigned char, kLooked> g_snapshot;
std::mutex g_snapshotInUse;

[[gnu::noinline]] void LookBelowThisFrame() {
    const auto* const here = static_cast<const unsigned char*>(__builtin_frame_address(0));
    const std::lock_guard lock(g_snapshotInUse);
    std::memcpy(g_snapshot.data(), here - kSkipped - kLooked, kLooked);
    ++g_threadsLookedAt;
    if (const Needle* found =
            testing_support::FindNeedle(g_snapshot.data(), kLooked, *g_secrets.load())) {
        g_foundOnThread = found;
    }
}

TEST(ChangePinStack, LeavesNeitherKeyNorPinsOnItsOtherThreads) {
    if (kSanitizedFrames) {
        GTEST_SKIP() << kSanitizerLayout;
    }
    const std::vector<Needle> secrets = Secrets();
    g_secrets = &secrets;
    const engine_switches::ScopedThreadCount forced(4);
    engine_switches::SetWorkEndObserver(LookBelowThisFrame);
    const testing_support::TempDir dir;
    // Enough keys that the passes are worth the threads and every thread gets some of them.
    testing_support::BuildManyKeys(dir / "keys.p12", testing_support::kPin, 24, false);
    for (const std::string& path : {Fixtures::Get().CopyTo("modern.p12", dir),
                                    Fixtures::Get().CopyTo("legacy.p12", dir), dir / "keys.p12"}) {
        CByteBuffer certificate;
        ASSERT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
        EXPECT_EQ(
            ChangePin(certificate, path.c_str(), testing_support::kPin.c_str(), kNewPin, kNewPin),
            Outcome::PinChanged);
    }
    engine_switches::SetWorkEndObserver(nullptr);
    EXPECT_GT(g_threadsLookedAt, 0);
    const Needle* const found = g_foundOnThread;
    EXPECT_TRUE(found == nullptr) << found->name << " left on a thread's stack";
}

}  // namespace
