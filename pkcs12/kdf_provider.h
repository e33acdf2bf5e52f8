#pragma once
// The tool's OpenSSL provider for PBKDF2 and the PKCS#12 KDF, which the tool's library context
// prefers. It derives with hmac_kdf where that has the digest and takes every parameter given,
// and hands every other derivation to OpenSSL's default provider.

#include <cstddef>

#include <openssl/types.h>

namespace kdfprovider {

// Adds the provider to `context` and makes the context prefer it; null when it could not be
// loaded: derivations then run as they would without it. The caller unloads it before the
// context goes.
OSSL_PROVIDER* Install(OSSL_LIB_CTX* context) noexcept;

}  // namespace kdfprovider
