#include "pkcs12/kdf_provider.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pkcs12/openssl_context.h"
#include "tests/support/engine_switches.h"
#include "tests/support/kdf_calls.h"

namespace {

using testing_support::KdfInputs;
using testing_support::Pbkdf2;
using testing_support::Pkcs12Kdf;

TEST(KdfProvider, DerivesTheCommonDigestsItselfAndTheOthersAsOpenSslDoes) {
    ASSERT_TRUE(ossl::WarmUp());
    for (const auto derive : {&Pbkdf2, &Pkcs12Kdf}) {
        for (const char* digest : {"SHA256", "SHA2-512", "SHA1"}) {
            KdfInputs in;
            in.digest = digest;
            const std::size_t before = engine_switches::DerivedDirectly();
            EXPECT_EQ(derive(in, true), derive(in, false)) << digest;
            EXPECT_EQ(engine_switches::DerivedDirectly(), before + 1) << digest;
        }
        // Digests it does not have go to OpenSSL, with its results.
        for (const char* digest : {"SHA3-256", "SHA512-256", "MD5"}) {
            KdfInputs in;
            in.digest = digest;
            const std::size_t before = engine_switches::DerivedDirectly();
            const std::string key = derive(in, true);
            EXPECT_NE(key, "failed") << digest;
            EXPECT_EQ(key, derive(in, false)) << digest;
            EXPECT_EQ(engine_switches::DerivedDirectly(), before) << digest;
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
    const std::size_t before = engine_switches::DerivedDirectly();
    // A key of 8 bytes is below the checks' 14, which OpenSSL applies as it derives.
    const std::string salt = "1234567890123456";
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 0), "failed");
    EXPECT_EQ(engine_switches::DerivedDirectly(), before);
    KdfInputs in;
    in.salt = salt;
    in.length = 8;
    EXPECT_EQ(Pbkdf2Checked(salt, 8, 1), Pbkdf2(in, false));
    EXPECT_EQ(engine_switches::DerivedDirectly(), before + 1);
}

// A KDF's context, in the tool's library context, where the tool's provider has it, or in one
// of OpenSSL's default provider alone; what each call returned and derived, as text, to be
// joined in the order of the calls.
class KdfContext {
public:
    KdfContext(const char* algorithm, bool tools) {
        if (tools) {
            m_scope.emplace();
        }
        EVP_KDF* const kdf = EVP_KDF_fetch(tools ? nullptr : OpenSslOnly(), algorithm, nullptr);
        m_provider = kdf != nullptr ? OSSL_PROVIDER_get0_name(EVP_KDF_get0_provider(kdf)) : "";
        m_context = EVP_KDF_CTX_new(kdf);
        EVP_KDF_free(kdf);
    }
    KdfContext(const KdfContext&) = delete;
    KdfContext& operator=(const KdfContext&) = delete;
    ~KdfContext() { EVP_KDF_CTX_free(m_context); }

    const std::string& provider() const { return m_provider; }

    std::string Set(std::vector<OSSL_PARAM> params) {
        params.push_back(OSSL_PARAM_construct_end());
        return "set " + std::to_string(EVP_KDF_CTX_set_params(m_context, params.data())) + "; ";
    }

    // With `params` given at the derivation, or none.
    std::string Derive(std::size_t length, std::optional<std::vector<OSSL_PARAM>> params = {}) {
        if (params) {
            params->push_back(OSSL_PARAM_construct_end());
        }
        std::string key(length, '\0');
        const int derived = EVP_KDF_derive(m_context, reinterpret_cast<unsigned char*>(key.data()),
                                           length, params ? params->data() : nullptr);
        return "derive " + std::to_string(derived) + (derived == 1 ? " " + key : "") + "; ";
    }

    void Reset() { EVP_KDF_CTX_reset(m_context); }

private:
    static OSSL_LIB_CTX* OpenSslOnly() {
        static const struct Context {
            OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
            OSSL_PROVIDER* provider = OSSL_PROVIDER_load(context, "default");
            ~Context() {
                OSSL_PROVIDER_unload(provider);
                OSSL_LIB_CTX_free(context);
            }
        } only;
        return only.context;
    }

    std::optional<ossl::ScopedContext> m_scope;
    std::string m_provider;
    EVP_KDF_CTX* m_context = nullptr;
};

// The same calls on the tool's provider and on OpenSSL's give the same results.
void ExpectAsOpenSsl(const char* algorithm, const std::function<std::string(KdfContext&)>& calls,
                     const std::string& what) {
    KdfContext tools(algorithm, true), openssl(algorithm, false);
    ASSERT_EQ(tools.provider(), "pintool");
    ASSERT_EQ(openssl.provider(), "default");
    EXPECT_EQ(calls(tools), calls(openssl)) << algorithm << ", " << what;
}

const std::string kPassword = "Grüße€", kOtherPassword = "andere PIN";
const std::string kSalt = "1234567890123456", kOtherSalt = "6543210987654321";
const int kIterations = 1000, kOtherIterations = 1001, kChecksOff = 1, kKeyId = 1, kMacId = 3;
char kSha256[] = "SHA256";
char kSha512[] = "SHA512";
char kNotAnOctetString[] = "1234567890123456";
char kNotANumber[] = "1001";

OSSL_PARAM Octets(const char* name, const std::string& value) {
    return OSSL_PARAM_construct_octet_string(name, const_cast<char*>(value.data()), value.size());
}

OSSL_PARAM Text(const char* name, char* value) {
    return OSSL_PARAM_construct_utf8_string(name, value, 0);
}

OSSL_PARAM Number(const char* name, const int& value) {
    return OSSL_PARAM_construct_int(name, const_cast<int*>(&value));
}

// Everything each KDF asks for, with OpenSSL's lower-bound checks off, so that the tool's
// provider derives itself.
std::vector<OSSL_PARAM> Pbkdf2Params() {
    return {Octets(OSSL_KDF_PARAM_PASSWORD, kPassword), Octets(OSSL_KDF_PARAM_SALT, kSalt),
            Number(OSSL_KDF_PARAM_ITER, kIterations), Text(OSSL_KDF_PARAM_DIGEST, kSha256),
            Number(OSSL_KDF_PARAM_PKCS5, kChecksOff)};
}

std::vector<OSSL_PARAM> Pkcs12Params() {
    return {Octets(OSSL_KDF_PARAM_PASSWORD, kPassword), Octets(OSSL_KDF_PARAM_SALT, kSalt),
            Number(OSSL_KDF_PARAM_ITER, kIterations), Text(OSSL_KDF_PARAM_DIGEST, kSha256),
            Number(OSSL_KDF_PARAM_PKCS12_ID, kKeyId)};
}

std::vector<OSSL_PARAM> With(std::vector<OSSL_PARAM> params, const OSSL_PARAM& added) {
    params.push_back(added);
    return params;
}

// A parameter given twice in one array is taken once, as OpenSSL takes it.
TEST(KdfProvider, TakesARepeatedParameterAsOpenSslDoes) {
    const std::size_t before = engine_switches::DerivedDirectly();
    for (const OSSL_PARAM& again :
         {Octets(OSSL_KDF_PARAM_PASSWORD, kOtherPassword), Octets(OSSL_KDF_PARAM_SALT, kOtherSalt),
          Number(OSSL_KDF_PARAM_ITER, kOtherIterations), Text(OSSL_KDF_PARAM_DIGEST, kSha512)}) {
        ExpectAsOpenSsl(
            "PBKDF2", [&](KdfContext& kdf) { return kdf.Derive(32, With(Pbkdf2Params(), again)); },
            again.key);
        ExpectAsOpenSsl(
            "PKCS12KDF",
            [&](KdfContext& kdf) { return kdf.Derive(24, With(Pkcs12Params(), again)); },
            again.key);
    }
    const OSSL_PARAM macId = Number(OSSL_KDF_PARAM_PKCS12_ID, kMacId);
    ExpectAsOpenSsl(
        "PKCS12KDF", [&](KdfContext& kdf) { return kdf.Derive(24, With(Pkcs12Params(), macId)); },
        macId.key);
    // Still the tool's own derivations, with what OpenSSL takes.
    EXPECT_EQ(engine_switches::DerivedDirectly(), before + 9);
}

// OpenSSL takes a set's parameters one by one: one refused leaves those taken before it set. The
// derivations that follow give what OpenSSL's give.
TEST(KdfProvider, DerivesAsOpenSslAfterASetRefusedHalfway) {
    const auto refusedAfter = [](const OSSL_PARAM& taken, const OSSL_PARAM& refused) {
        return std::vector<OSSL_PARAM>{taken, refused};
    };
    // PBKDF2 takes the digest first, the password before the salt and the salt before the
    // iterations; the PKCS#12 KDF the password before the id.
    const std::vector<OSSL_PARAM> pbkdf2Sets[] = {
        refusedAfter(Octets(OSSL_KDF_PARAM_PASSWORD, kOtherPassword),
                     Text(OSSL_KDF_PARAM_SALT, kNotAnOctetString)),
        refusedAfter(Text(OSSL_KDF_PARAM_DIGEST, kSha512), Text(OSSL_KDF_PARAM_ITER, kNotANumber)),
    };
    for (const auto& set : pbkdf2Sets) {
        ExpectAsOpenSsl(
            "PBKDF2",
            [&](KdfContext& kdf) {
                std::string results = kdf.Set(Pbkdf2Params());
                results += kdf.Set(set);
                results += kdf.Derive(32);
                return results + kdf.Derive(32, Pbkdf2Params());
            },
            set[0].key);
        ExpectAsOpenSsl(
            "PBKDF2",
            [&](KdfContext& kdf) {
                std::string results = kdf.Set(Pbkdf2Params());
                results += kdf.Derive(32, set);
                return results + kdf.Derive(32);
            },
            std::string("at the derivation, ") + set[0].key);
    }
    const auto pkcs12Set = refusedAfter(Octets(OSSL_KDF_PARAM_PASSWORD, kOtherPassword),
                                        Octets(OSSL_KDF_PARAM_PKCS12_ID, kSalt));
    ExpectAsOpenSsl(
        "PKCS12KDF",
        [&](KdfContext& kdf) {
            std::string results = kdf.Set(Pkcs12Params());
            results += kdf.Set(pkcs12Set);
            return results + kdf.Derive(24);
        },
        "pass, then id");
    // A reset context derives itself again.
    const std::size_t before = engine_switches::DerivedDirectly();
    ExpectAsOpenSsl(
        "PBKDF2",
        [&](KdfContext& kdf) {
            std::string results = kdf.Set(Pbkdf2Params());
            results += kdf.Set(pbkdf2Sets[0]);
            kdf.Reset();
            return results + kdf.Derive(32, Pbkdf2Params());
        },
        "reset");
    EXPECT_EQ(engine_switches::DerivedDirectly(), before + 1);
}

// OpenSSL takes an octet string without data as none given; so does the tool's provider.
TEST(KdfProvider, TakesAParameterWithoutDataAsOpenSslDoes) {
    const OSSL_PARAM none = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, nullptr, 8);
    ExpectAsOpenSsl(
        "PBKDF2",
        [&](KdfContext& kdf) {
            std::vector<OSSL_PARAM> params = Pbkdf2Params();
            params[0] = none;
            const std::string results = kdf.Derive(32, params);
            return results + kdf.Derive(32, Pbkdf2Params());
        },
        "password");
    ExpectAsOpenSsl(
        "PKCS12KDF",
        [&](KdfContext& kdf) {
            std::vector<OSSL_PARAM> params = Pkcs12Params();
            params[0] = none;
            return kdf.Derive(24, params);
        },
        "password");
}

}  // namespace
