#include "pkcs12/kdf_memo.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <optional>
#include <string>
#include <vector>

#include "pkcs12/openssl_context.h"

namespace {

struct Inputs {
    std::string password = "Grüße€";
    std::string salt = "12345678";
    int iterations = 1000;
    const char* digest = "SHA256";
    int length = 32;
};

// PBKDF2 as OpenSSL's PBE code asks for it, in the tool's context (or OpenSSL's own).
std::string Pbkdf2(const Inputs& in, bool inToolsContext = true) {
    std::optional<ossl::ScopedContext> context;
    if (inToolsContext) {
        context.emplace();
    }
    std::string key(static_cast<size_t>(in.length), '\0');
    const EVP_MD* const digest = EVP_get_digestbyname(in.digest);
    const bool ok = PKCS5_PBKDF2_HMAC(in.password.data(), static_cast<int>(in.password.size()),
                                      reinterpret_cast<const unsigned char*>(in.salt.data()),
                                      static_cast<int>(in.salt.size()), in.iterations, digest,
                                      in.length, reinterpret_cast<unsigned char*>(key.data())) == 1;
    return ok ? key : "failed";
}

// The PKCS#12 KDF with the MAC's id.
std::string Pkcs12Kdf(const Inputs& in, bool inToolsContext = true) {
    std::optional<ossl::ScopedContext> context;
    if (inToolsContext) {
        context.emplace();
    }
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

TEST(KdfMemo, DerivesTheCommonDigestsItselfAndTheOthersAsOpenSslDoes) {
    ASSERT_TRUE(ossl::WarmUp());
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        for (const char* digest : {"SHA256", "SHA2-512", "SHA1"}) {
            Inputs in;
            in.digest = digest;
            const std::size_t before = kdfmemo::DerivedDirectlyForTesting();
            EXPECT_EQ(derive(in, true), derive(in, false)) << digest;
            EXPECT_EQ(kdfmemo::DerivedDirectlyForTesting(), before + 1) << digest;
        }
        // Digests it does not have go to OpenSSL, with its results.
        for (const char* digest : {"SHA3-256", "SHA512-256", "MD5"}) {
            Inputs in;
            in.digest = digest;
            const std::size_t before = kdfmemo::DerivedDirectlyForTesting();
            const std::string key = derive(in, true);
            EXPECT_NE(key, "failed") << digest;
            EXPECT_EQ(key, derive(in, false)) << digest;
            EXPECT_EQ(kdfmemo::DerivedDirectlyForTesting(), before) << digest;
        }
    }
}

// PBKDF2 through the KDF interface, with OpenSSL's lower-bound checks as `pkcs5` says.
std::string Pbkdf2Checked(const std::string& salt, std::size_t length, int pkcs5) {
    const ossl::ScopedContext context;
    EVP_KDF* const kdf = EVP_KDF_fetch(nullptr, "PBKDF2", nullptr);
    EVP_KDF_CTX* const derivation = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    std::string password = "Grüße€", s = salt;
    unsigned iterations = 1000;
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, password.data(),
                                          password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, s.data(), s.size()),
        OSSL_PARAM_construct_uint(OSSL_KDF_PARAM_ITER, &iterations),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5),
        OSSL_PARAM_construct_end(),
    };
    std::string key(length, '\0');
    const bool ok = derivation != nullptr &&
                    EVP_KDF_derive(derivation, reinterpret_cast<unsigned char*>(key.data()),
                                   key.size(), params) == 1;
    EVP_KDF_CTX_free(derivation);
    return ok ? key : "failed";
}

TEST(KdfMemo, LeavesPbkdf2WithLowerBoundChecksToOpenSsl) {
    ASSERT_TRUE(ossl::WarmUp());
    const std::size_t before = kdfmemo::DerivedDirectlyForTesting();
    // A key of 8 bytes is below the checks' 14, which OpenSSL applies as it derives.
    const std::string salt = "1234567890123456";
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 0), "failed");
    EXPECT_EQ(kdfmemo::DerivedDirectlyForTesting(), before);
    Inputs in;
    in.salt = salt;
    in.length = 8;
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 1), Pbkdf2(in, false));
    EXPECT_EQ(kdfmemo::DerivedDirectlyForTesting(), before + 1);
}

TEST(KdfMemo, KeepsWhatARecordingDerivesAndServesExactlyThoseInputs) {
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        const Inputs recorded;
        kdfmemo::Memo memo;
        std::string key;
        {
            const kdfmemo::ScopedRecording recording(memo);
            key = derive(recorded, true);
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
            expected.push_back(derive(other, true));
        }
        const std::size_t before = kdfmemo::ServedForTesting();
        const kdfmemo::ScopedServing serving(memo);
        EXPECT_EQ(derive(recorded, true), key);
        EXPECT_EQ(kdfmemo::ServedForTesting(), before + 1);
        for (size_t i = 0; i < others.size(); ++i) {
            EXPECT_EQ(derive(others[i], true), expected[i]) << "input " << i;
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
