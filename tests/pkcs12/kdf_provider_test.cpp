#include "pkcs12/kdf_provider.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <string>

#include "pkcs12/openssl_context.h"
#include "tests/support/kdf_calls.h"

namespace {

using testing_support::KdfInputs;
using testing_support::Pbkdf2;
using testing_support::Pkcs12Kdf;

TEST(KdfProvider, IsInTheToolsContext) {
    ASSERT_TRUE(ossl::WarmUp());
    EXPECT_TRUE(kdfprovider::Available());
}

TEST(KdfProvider, DerivesTheCommonDigestsItselfAndTheOthersAsOpenSslDoes) {
    ASSERT_TRUE(ossl::WarmUp());
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        for (const char* digest : {"SHA256", "SHA2-512", "SHA1"}) {
            KdfInputs in;
            in.digest = digest;
            const std::size_t before = kdfprovider::DerivedDirectlyForTesting();
            EXPECT_EQ(derive(in, true), derive(in, false)) << digest;
            EXPECT_EQ(kdfprovider::DerivedDirectlyForTesting(), before + 1) << digest;
        }
        // Digests it does not have go to OpenSSL, with its results.
        for (const char* digest : {"SHA3-256", "SHA512-256", "MD5"}) {
            KdfInputs in;
            in.digest = digest;
            const std::size_t before = kdfprovider::DerivedDirectlyForTesting();
            const std::string key = derive(in, true);
            EXPECT_NE(key, "failed") << digest;
            EXPECT_EQ(key, derive(in, false)) << digest;
            EXPECT_EQ(kdfprovider::DerivedDirectlyForTesting(), before) << digest;
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

TEST(KdfProvider, LeavesPbkdf2WithLowerBoundChecksToOpenSsl) {
    ASSERT_TRUE(ossl::WarmUp());
    const std::size_t before = kdfprovider::DerivedDirectlyForTesting();
    // A key of 8 bytes is below the checks' 14, which OpenSSL applies as it derives.
    const std::string salt = "1234567890123456";
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 0), "failed");
    EXPECT_EQ(kdfprovider::DerivedDirectlyForTesting(), before);
    KdfInputs in;
    in.salt = salt;
    in.length = 8;
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 1), Pbkdf2(in, false));
    EXPECT_EQ(kdfprovider::DerivedDirectlyForTesting(), before + 1);
}

}  // namespace
