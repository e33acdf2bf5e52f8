#include "pkcs12/kdf_memo.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_switches.h"
#include "tests/support/kdf_calls.h"

namespace {

using testing_support::KdfInputs;
using testing_support::Pbkdf2;
using testing_support::Pkcs12Kdf;

TEST(KdfMemo, KeepsWhatARecordingDerivesAndServesExactlyThoseInputs) {
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        const KdfInputs recorded;
        kdfmemo::Memo memo;
        std::string key;
        {
            const kdfmemo::ScopedRecording recording(memo);
            key = derive(recorded, true);
        }
        ASSERT_EQ(memo.size(), 1u);
        // What any change of one input derives without a memo.
        std::vector<KdfInputs> others(5, recorded);
        others[0].password = "Grüße€!";
        others[1].salt = "12345679";
        others[2].iterations = 1001;
        others[3].digest = "SHA512";
        others[4].length = 24;
        std::vector<std::string> expected;
        for (const KdfInputs& other : others) {
            expected.push_back(derive(other, true));
        }
        const std::size_t before = engine_switches::MemoServed();
        const kdfmemo::ScopedServing serving(memo);
        EXPECT_EQ(derive(recorded, true), key);
        EXPECT_EQ(engine_switches::MemoServed(), before + 1);
        for (size_t i = 0; i < others.size(); ++i) {
            EXPECT_EQ(derive(others[i], true), expected[i]) << "input " << i;
        }
        EXPECT_EQ(engine_switches::MemoServed(), before + 1) << "served what it does not hold";
    }
}

TEST(KdfMemo, ServesNothingOnceServingEnds) {
    const KdfInputs inputs;
    kdfmemo::Memo memo;
    {
        const kdfmemo::ScopedRecording recording(memo);
        Pbkdf2(inputs);
    }
    { const kdfmemo::ScopedServing serving(memo); }
    const std::size_t before = engine_switches::MemoServed();
    Pbkdf2(inputs);
    EXPECT_EQ(engine_switches::MemoServed(), before);
}

TEST(KdfMemo, ServesEachResultOnce) {
    const KdfInputs inputs;
    kdfmemo::Memo memo;
    std::string key;
    {
        const kdfmemo::ScopedRecording recording(memo);
        key = Pbkdf2(inputs);
    }
    const std::size_t kept = engine_switches::MemoKept();
    const std::size_t before = engine_switches::MemoServed();
    const kdfmemo::ScopedServing serving(memo);
    EXPECT_EQ(Pbkdf2(inputs), key);
    EXPECT_EQ(Pbkdf2(inputs), key);
    EXPECT_EQ(engine_switches::MemoServed(), before + 1);
    EXPECT_EQ(engine_switches::MemoKept(), kept - 1) << "a result served is not kept";
    EXPECT_EQ(memo.size(), 0u);
}

// What one thread serves, another thread's derivations do not get: they may be another
// export's.
TEST(KdfMemo, ServesOnlyTheThreadThatServesIt) {
    const KdfInputs inputs;
    kdfmemo::Memo memo;
    std::string key;
    {
        const kdfmemo::ScopedRecording recording(memo);
        key = Pbkdf2(inputs);
    }
    const kdfmemo::ScopedServing serving(memo);
    const std::size_t before = engine_switches::MemoServed();
    std::string elsewhere;
    std::thread([&] { elsewhere = Pbkdf2(inputs); }).join();
    EXPECT_EQ(elsewhere, key);
    EXPECT_EQ(engine_switches::MemoServed(), before);
    EXPECT_EQ(Pbkdf2(inputs), key);
    EXPECT_EQ(engine_switches::MemoServed(), before + 1);
}

TEST(KdfMemo, CountsWhatMemosHoldUntilTheyGo) {
    const std::size_t before = engine_switches::MemoKept();
    {
        kdfmemo::Memo memo;
        {
            const kdfmemo::ScopedRecording recording(memo);
            Pbkdf2(KdfInputs{});
            Pkcs12Kdf(KdfInputs{});
        }
        EXPECT_EQ(engine_switches::MemoKept(), before + 2);
        kdfmemo::Memo taken;
        taken.Absorb(std::move(memo));
        EXPECT_EQ(taken.size(), 2u);
        EXPECT_EQ(engine_switches::MemoKept(), before + 2);
    }
    EXPECT_EQ(engine_switches::MemoKept(), before);
}

}  // namespace
