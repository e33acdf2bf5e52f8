#pragma once
// The tool's own OpenSSL library context and RAII holders for OpenSSL objects.

#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstddef>
#include <memory>

#include "platform/secret.h"

namespace ossl {

template <auto FreeFunction>
struct Deleter {
    template <typename T>
    void operator()(T* object) const noexcept {
        FreeFunction(object);
    }
};

inline void FreeSafeBags(STACK_OF(PKCS12_SAFEBAG) * bags) noexcept {
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
}
inline void FreeSafes(STACK_OF(PKCS7) * safes) noexcept {
    sk_PKCS7_pop_free(safes, PKCS7_free);
}

using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
using SafesPtr = std::unique_ptr<STACK_OF(PKCS7), Deleter<FreeSafes>>;
using SafeBagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), Deleter<FreeSafeBags>>;
using KeyInfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR_free>>;
using SigPtr = std::unique_ptr<X509_SIG, Deleter<X509_SIG_free>>;
using OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER_free>>;
using DigestPtr = std::unique_ptr<EVP_MD, Deleter<EVP_MD_free>>;

// The passwords the tool hands to OpenSSL.
using Secret = ::Secret;

// The DER of an OpenSSL object, wiped when released: it may hold a key. Empty where the object
// cannot be encoded or there is no memory for it.
SecretBytes Der(const void* object, const ASN1_ITEM* item) noexcept;

// The two library contexts the tool works in. Both have OpenSSL's default and legacy providers
// and no system configuration, so that every OpenSSL call reads every algorithm OpenSSL has,
// whatever openssl.cnf says.
enum class Library {
    // The tool's own: besides, its provider for PBKDF2 and the PKCS#12 KDF (kdf_provider.h),
    // which derives faster.
    Tool,
    // OpenSSL's implementations alone, for checking what the tool's own derivations made.
    OpenSsl,
};

// Makes one of the library contexts the calling thread's default for as long as it lives.
class ScopedContext {
public:
    explicit ScopedContext(Library library = Library::Tool) noexcept;
    ScopedContext(const ScopedContext&) = delete;
    ScopedContext& operator=(const ScopedContext&) = delete;
    ~ScopedContext();

    // False when the providers could not be loaded; nothing should be attempted then.
    bool ok() const noexcept { return m_previous != nullptr; }

private:
    OSSL_LIB_CTX* m_previous = nullptr;
    Library m_previousLibrary = Library::Tool;
};

// The library context of the innermost ScopedContext alive on the calling thread; the tool's
// when there is none. Threads that work for this one take it over (parallel.h).
Library CurrentLibrary() noexcept;

// Fetches, in both library contexts, the algorithms a PKCS#12 file may ask for, and seeds the
// tool's random generator: the first use of each costs more than a typical file's derivations,
// so this is done before the user waits. False when a context or a common algorithm is missing.
bool WarmUp() noexcept;

}  // namespace ossl
