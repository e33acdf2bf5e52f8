#include "platform/kdf_memo.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "platform/openssl_context.h"

namespace {

struct Inputs {
    std::string password = "Grüße€";
    std::string salt = "12345678";
    int iterations = 1000;
    const char* digest = "SHA256";
    int length = 32;
};

// PBKDF2 as OpenSSL's PBE code asks for it, in the tool's context.
std::string Pbkdf2(const Inputs& in) {
    const ossl::ScopedContext context;
    std::string key(static_cast<size_t>(in.length), '\0');
    const EVP_MD* const digest = EVP_get_digestbyname(in.digest);
    const bool ok = PKCS5_PBKDF2_HMAC(in.password.data(), static_cast<int>(in.password.size()),
                                      reinterpret_cast<const unsigned char*>(in.salt.data()),
                                      static_cast<int>(in.salt.size()), in.iterations, digest,
                                      in.length, reinterpret_cast<unsigned char*>(key.data())) == 1;
    return ok ? key : "failed";
}

// The PKCS#12 KDF with the MAC's id.
std::string Pkcs12Kdf(const Inputs& in) {
    const ossl::ScopedContext context;
    std::string key(static_cast<size_t>(in.length), '\0');
    const bool ok =
        PKCS12_key_gen_utf8_ex(in.password.data(), static_cast<int>(in.password.size()),
                               reinterpret_cast<unsigned char*>(const_cast<char*>(in.salt.data())),
                               static_cast<int>(in.salt.size()), PKCS12_MAC_ID, in.iterations,
                               in.length, reinterpret_cast<unsigned char*>(key.data()),
                               EVP_get_digestbyname(in.digest), nullptr, nullptr) == 1;
    return ok ? key : "failed";
}

TEST(KdfMemo, IsInTheToolsContext) {
    ASSERT_TRUE(ossl::WarmUp());
    EXPECT_TRUE(kdfmemo::Available());
}

TEST(KdfMemo, KeepsWhatARecordingDerivesAndServesExactlyThoseInputs) {
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        const Inputs recorded;
        kdfmemo::Memo memo;
        std::string key;
        {
            const kdfmemo::ScopedRecording recording(memo);
            key = derive(recorded);
        }
        ASSERT_EQ(memo.size(), 1u);
        // What any change of one input derives without a memo.
        std::vector<Inputs> others(5, recorded);
        others[0].password = "Grüße€!";
        others[1].salt = "12345679";
        others[2].iterations = 1001;
        others[3].digest = "SHA512";
        others[4].length = 24;
        std::vector<std::string> expected;
        for (const Inputs& other : others) {
            expected.push_back(derive(other));
        }
        const std::size_t before = kdfmemo::ServedForTesting();
        const kdfmemo::ScopedServing serving(memo);
        EXPECT_EQ(derive(recorded), key);
        EXPECT_EQ(kdfmemo::ServedForTesting(), before + 1);
        for (size_t i = 0; i < others.size(); ++i) {
            EXPECT_EQ(derive(others[i]), expected[i]) << "input " << i;
        }
        EXPECT_EQ(kdfmemo::ServedForTesting(), before + 1) << "served what it does not hold";
    }
}

TEST(KdfMemo, ServesNothingOnceServingEnds) {
    const Inputs inputs;
    kdfmemo::Memo memo;
    {
        const kdfmemo::ScopedRecording recording(memo);
        Pbkdf2(inputs);
    }
    { const kdfmemo::ScopedServing serving(memo); }
    const std::size_t before = kdfmemo::ServedForTesting();
    Pbkdf2(inputs);
    EXPECT_EQ(kdfmemo::ServedForTesting(), before);
}

TEST(KdfMemo, CountsWhatMemosHoldUntilTheyGo) {
    const std::size_t before = kdfmemo::KeptForTesting();
    {
        kdfmemo::Memo memo;
        {
            const kdfmemo::ScopedRecording recording(memo);
            Pbkdf2(Inputs{});
            Pkcs12Kdf(Inputs{});
        }
        EXPECT_EQ(kdfmemo::KeptForTesting(), before + 2);
        kdfmemo::Memo taken;
        taken.Absorb(std::move(memo));
        EXPECT_EQ(taken.size(), 2u);
        EXPECT_EQ(kdfmemo::KeptForTesting(), before + 2);
    }
    EXPECT_EQ(kdfmemo::KeptForTesting(), before);
}

}  // namespace
