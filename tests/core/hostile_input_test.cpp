// Hostile and odd input ends in the tool's own outcomes: never a crash, a hang or a changed
// file.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "core/soft_certificate.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"
#include "tests/support/pfx_description.h"

namespace {

using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

// What the tool makes of a file chosen in the main window and then changed in the PIN dialog.
Outcome ChooseAndChange(const std::string& path) {
    CByteBuffer certificate;
    const Outcome chosen = OpenSoftCertificate(path.c_str(), certificate);
    if (chosen != Outcome::Accepted) {
        return chosen;
    }
    return ChangePin(certificate, path.c_str(), kPin.c_str(), "neu", "neu");
}

// Runs in a child that must be done within seconds and may use at most `memoryMiB`.
int InChild(const std::function<int()>& body, long memoryMiB = 1024) {
    const pid_t child = testing_support::StartChild([&] {
        alarm(20);  // a hang ends as SIGALRM
        const int result = body();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss / 1024 > memoryMiB ? 90 : result;
    });
    return testing_support::WaitChild(child);
}

std::string Sparse(const TempDir& dir, const std::string& name, long long size) {
    const std::string path = dir / name;
    WriteAll(path, "");
    EXPECT_EQ(truncate(path.c_str(), size), 0);
    return path;
}

TEST(HostileInput, DamagedFilesAreNeverChangedWrongly) {
    const std::string original = Fixtures::Get().Bytes("modern.p12");
    const TempDir dir;
    const std::string path = dir / "file.p12";
    const std::string expected = testing_support::DescribePfx(original, kPin);
    for (size_t at = 0; at < original.size(); at += 41) {
        std::string damaged = original;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x04);
        WriteAll(path, damaged);
        const Outcome outcome = ChooseAndChange(path);
        if (outcome == Outcome::PinChanged) {
            // A flip the format does not notice (say, in the version): the contents must be
            // whole.
            EXPECT_EQ(testing_support::DescribePfx(ReadAll(path), "neu"), expected) << at;
        } else {
            // Damage the tool sees before the PIN is tried is named as such.
            EXPECT_TRUE(outcome == Outcome::NotSoftCertificate ||
                        outcome == Outcome::CannotOpenWithOldPin || outcome == Outcome::CannotSave)
                << "flipped at " << at;
            EXPECT_EQ(ReadAll(path), damaged) << at;
        }
    }
    for (const std::string& bytes :
         {std::string(), original.substr(0, original.size() / 2), original + "Anhang",
          std::string("\x30\x84\x7f\xff\xff\xff\x02\x01\x03", 9),   // length beyond the data
          std::string(20000, '\x30') + std::string(20000, '\x80'),  // deeply nested
          std::string("\x30\x80", 2) + std::string(100000, '\x30')}) {
        WriteAll(path, bytes);
        EXPECT_EQ(ChooseAndChange(path), Outcome::NotSoftCertificate) << bytes.size();
        EXPECT_EQ(ReadAll(path), bytes);
    }
}

TEST(HostileInput, IterationBombsEndAtOnceWithTheToolsOutcome) {
    const TempDir dir;
    const std::string path = dir / "bomb.p12";
    using testing_support::BuildIterationBomb;
    for (const std::string& bomb : {BuildIterationBomb(2'000'000'000, 2048, 1, 0),
                                    BuildIterationBomb(0, 2048, 1, 2'000'000'000),
                                    BuildIterationBomb(4'000'000, 4'000'000, 5, 0)}) {
        WriteAll(path, bomb);
        // Not a wrong PIN: the message names the limit.
        EXPECT_EQ(InChild([&] {
                      CByteBuffer certificate;
                      Reason reason = Reason::None;
                      OpenSoftCertificate(path.c_str(), certificate);
                      const Outcome outcome =
                          ChangePin(certificate, path.c_str(), kPin.c_str(), "neu", "neu", reason);
                      return outcome == Outcome::BeyondLimits ? static_cast<int>(reason) : 0;
                  }),
                  static_cast<int>(Reason::TooMuchWork));
        EXPECT_EQ(ReadAll(path), bomb);
    }
}

TEST(HostileInput, HugeAndSparseFilesAreRefusedWithoutHugeAllocations) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's shadow memory counts in the resident size";
#endif
    const TempDir dir;
    const int foreign = static_cast<int>(Outcome::BeyondLimits);
    const std::string big = Sparse(dir, "big.p12", 300LL << 20);
    EXPECT_EQ(InChild([&] { return static_cast<int>(ChooseAndChange(big)); }, 64), foreign);
    // The size as the tool reads it is all ones, or it is beyond 32 bits: no 4 GiB block.
    const std::string allOnes = Sparse(dir, "ones.p12", 0xFFFFFFFFLL);
    EXPECT_EQ(InChild([&] { return static_cast<int>(ChooseAndChange(allOnes)); }, 64), foreign);
    const std::string beyond = Sparse(dir, "beyond.p12", (4LL << 30) + 100);
    EXPECT_EQ(InChild([&] { return static_cast<int>(ChooseAndChange(beyond)); }, 64), foreign);
}

TEST(HostileInput, SpecialFilesAndUnreadablePathsAreRefusedWithoutWaiting) {
    const TempDir dir;
    mkfifo((dir / "pipe.p12").c_str(), 0600);
    const std::string unreadable = Fixtures::Get().CopyTo("modern.p12", dir);
    chmod(unreadable.c_str(), 0);
    chmod(dir.path().c_str(), 0755);
    const int foreign = static_cast<int>(Outcome::NotSoftCertificate);
    for (const std::string& path : {dir / "pipe.p12", std::string("/dev/zero"), dir.path(),
                                    dir / "missing.p12", unreadable}) {
        // Root may read anything; the choice is made without root's rights.
        EXPECT_EQ(InChild([&] {
                      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                          return 99;
                      }
                      return static_cast<int>(ChooseAndChange(path));
                  }),
                  foreign)
            << path;
    }
}

}  // namespace
