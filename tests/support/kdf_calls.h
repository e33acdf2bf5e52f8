#pragma once
// The key derivations as OpenSSL's PBE and MAC code asks for them, in the tool's library context
// (where its provider derives) or in OpenSSL's own.

#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <optional>
#include <string>

#include "pkcs12/openssl_context.h"

namespace testing_support {

struct KdfInputs {
    std::string password = "Grüße€";
    std::string salt = "12345678";
    int iterations = 1000;
    const char* digest = "SHA256";
    int length = 32;
};

// The key, or "failed".
inline std::string Pbkdf2(const KdfInputs& in, bool inToolsContext = true) {
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
inline std::string Pkcs12Kdf(const KdfInputs& in, bool inToolsContext = true) {
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

}  // namespace testing_support
