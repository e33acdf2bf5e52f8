// A change that dies or fails at any moment leaves either the old file or the complete new one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "core/soft_certificate.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_description.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;

const std::string kNewPin = "Neue PIN";

enum class State { Old, New, Broken };

// Not the temporary file's 0600, so that a file that got its name before its mode shows.
constexpr mode_t kMode = 0640;

struct Trial {
    TempDir dir;
    std::string path;
    std::string original;
    CByteBuffer certificate;

    explicit Trial(const std::string& name)
        : path(dir / "file.p12"), original(Fixtures::Get().Bytes(name)) {
        testing_support::WriteAll(path, original);
        chmod(path.c_str(), kMode);
        certificate.LoadFromFile(path.c_str(), 0, 0);
    }
    int Change() const {
        return static_cast<int>(
            ChangePin(certificate, path.c_str(), kPin.c_str(), kNewPin.c_str(), kNewPin.c_str()));
    }

    State Target() const {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || (info.st_mode & 07777) != kMode) {
            return State::Broken;
        }
        const std::string now = ReadAll(path);
        if (now == original) {
            return State::Old;
        }
        return DescribePfx(now, kNewPin) == DescribePfx(original, kPin) ? State::New
                                                                        : State::Broken;
    }

    // Anything but the target must be one hidden temporary file named after it, private or
    // as private as the target, holding no part of the private key in clear.
    testing::AssertionResult LeftoversAreSafe(const std::string& keyInClear) const {
        int others = 0;
        for (const std::string& name : dir.List()) {
            if (name == "file.p12") {
                continue;
            }
            struct stat info {};
            stat((dir / name).c_str(), &info);
            const mode_t mode = info.st_mode & 07777;
            if (name.rfind(".file.p12.", 0) != 0 || (mode != 0600 && mode != kMode)) {
                return testing::AssertionFailure() << "unexpected file " << name;
            }
            if (ReadAll(dir / name).find(keyInClear) != std::string::npos) {
                return testing::AssertionFailure() << name << " holds the key in clear";
            }
            ++others;
        }
        return others <= 1 ? testing::AssertionSuccess()
                           : testing::AssertionFailure() << others << " temporary files";
    }
};

TEST(CrashSafety, WriteLimitedMidwayLeavesTheOriginal) {
    for (const std::string name : {"modern.p12", "legacy.p12"}) {
        Trial trial(name);
        const pid_t child = testing_support::StartChild([&] {
            // Writes beyond 1000 bytes fail with EFBIG instead of killing the process.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1000, 1000};
            setrlimit(RLIMIT_FSIZE, &limit);
            return trial.Change();
        });
        EXPECT_EQ(testing_support::WaitChild(child), static_cast<int>(Outcome::CannotSave));
        EXPECT_EQ(trial.Target(), State::Old) << name;
        EXPECT_EQ(trial.dir.List().size(), 1u) << name;
    }
}

// A stretch of the fixtures' private key as it stands in clear (DER).
std::string KeyInClear() {
    const TempDir dir;
    const auto made = testing_support::Run(
        "openssl pkey -in " + testing_support::Quote(Fixtures::Get().Path("leaf.key")) +
        " -outform DER -out " + testing_support::Quote(dir / "key.der"));
    EXPECT_EQ(made.status, 0) << made.output;
    return ReadAll(dir / "key.der").substr(400, 48);  // inside the private exponent
}

// Kills the change at `trials` random moments spread over its whole run and reports how each
// trial ended.
void KillAtRandomMoments(const std::string& fixture, int trials) {
    using Clock = std::chrono::steady_clock;
    std::chrono::nanoseconds duration{};
    {
        Trial probe(fixture);
        const auto start = Clock::now();
        const pid_t child = testing_support::StartChild([&] { return probe.Change(); });
        ASSERT_EQ(testing_support::WaitChild(child), static_cast<int>(Outcome::PinChanged));
        duration = Clock::now() - start;
    }
    const std::string key = KeyInClear();
    std::mt19937 random(std::random_device{}());
    // Somewhat past the measured run too, so that late moments are covered.
    std::uniform_int_distribution<long long> moment(0, duration.count() * 6 / 5);
    int counts[3] = {};
    for (int i = 0; i < trials; ++i) {
        Trial trial(fixture);
        const pid_t child = testing_support::StartChild([&] { return trial.Change(); });
        std::this_thread::sleep_for(std::chrono::nanoseconds(moment(random)));
        kill(child, SIGKILL);
        testing_support::WaitChild(child);
        const State state = trial.Target();
        ++counts[static_cast<int>(state)];
        EXPECT_NE(state, State::Broken) << "trial " << i;
        EXPECT_TRUE(trial.LeftoversAreSafe(key)) << "trial " << i;
    }
    std::printf("%s: %d trials ended old, %d new, %d broken\n", fixture.c_str(), counts[0],
                counts[1], counts[2]);
    EXPECT_EQ(counts[2], 0);
}

TEST(CrashSafety, KilledAtAnyMomentLeavesOldOrNewFile) {
    KillAtRandomMoments("modern.p12", 200);
    KillAtRandomMoments("legacy.p12", 200);
}

}  // namespace
