// A change that dies or fails at any moment leaves either the old file or the complete new one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
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

struct Trial {
    TempDir dir;
    std::string path;
    std::string original;
    CByteBuffer certificate;

    explicit Trial(const std::string& name)
        : path(dir / "file.p12"), original(Fixtures::Get().Bytes(name)) {
        testing_support::WriteAll(path, original);
        certificate.LoadFromFile(path.c_str(), 0, 0);
    }
    int Change() const {
        return static_cast<int>(
            ChangePin(certificate, path.c_str(), kPin.c_str(), kNewPin.c_str(), kNewPin.c_str()));
    }

    State Target() const {
        const std::string now = ReadAll(path);
        if (now == original) {
            return State::Old;
        }
        return DescribePfx(now, kNewPin) == DescribePfx(original, kPin) ? State::New
                                                                        : State::Broken;
    }

    // Anything but the target must be one hidden, private temporary file named after it.
    testing::AssertionResult LeftoversAreSafe() const {
        int others = 0;
        for (const std::string& name : dir.List()) {
            if (name == "file.p12") {
                continue;
            }
            struct stat info {};
            stat((dir / name).c_str(), &info);
            if (name.rfind(".file.p12.", 0) != 0 || (info.st_mode & 07777) != 0600) {
                return testing::AssertionFailure() << "unexpected file " << name;
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

// Kills the change at moments spread over its whole run.
void KillAtManyMoments(const std::string& fixture) {
    using Clock = std::chrono::steady_clock;
    std::chrono::nanoseconds duration{};
    {
        Trial probe(fixture);
        const auto start = Clock::now();
        const pid_t child = testing_support::StartChild([&] { return probe.Change(); });
        ASSERT_EQ(testing_support::WaitChild(child), static_cast<int>(Outcome::PinChanged));
        duration = Clock::now() - start;
    }
    constexpr int kTrials = 24;
    int counts[3] = {};
    for (int i = 0; i < kTrials; ++i) {
        Trial trial(fixture);
        const pid_t child = testing_support::StartChild([&] { return trial.Change(); });
        std::this_thread::sleep_for(duration * i / (kTrials - 4));
        kill(child, SIGKILL);
        testing_support::WaitChild(child);
        const State state = trial.Target();
        ++counts[static_cast<int>(state)];
        EXPECT_NE(state, State::Broken) << "killed at " << i;
        EXPECT_TRUE(trial.LeftoversAreSafe()) << "killed at " << i;
    }
    std::printf("%s: %d old, %d new, %d broken\n", fixture.c_str(), counts[0], counts[1],
                counts[2]);
}

TEST(CrashSafety, KilledAtAnyMomentLeavesOldOrNewFile) {
    KillAtManyMoments("modern.p12");
    KillAtManyMoments("legacy.p12");
}

}  // namespace
