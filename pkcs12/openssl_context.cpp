#include "pkcs12/openssl_context.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/objects.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <new>
#include <utility>

#include "pkcs12/kdf_provider.h"

namespace ossl {
namespace {

// PBKDF2 with an HMAC-SHA-3 PRF, which OpenSSL 3.0 derives with but cannot name in PBES2.
constexpr struct {
    int prf;
    int digest;
} kSha3Prfs[] = {
    {NID_hmac_sha3_224, NID_sha3_224},
    {NID_hmac_sha3_256, NID_sha3_256},
    {NID_hmac_sha3_384, NID_sha3_384},
    {NID_hmac_sha3_512, NID_sha3_512},
};

// Teaches OpenSSL's table of PBE algorithms the SHA-3 PRFs it lacks. The table is the
// process's; a lookup right after the additions sorts it, so that later lookups, from any
// thread, only read it.
void AddSha3Prfs() noexcept {
    for (const auto& prf : kSha3Prfs) {
        if (EVP_PBE_find(EVP_PBE_TYPE_PRF, prf.prf, nullptr, nullptr, nullptr) != 1) {
            EVP_PBE_alg_add_type(EVP_PBE_TYPE_PRF, prf.prf, -1, prf.digest, nullptr);
        }
    }
    EVP_PBE_find(EVP_PBE_TYPE_PRF, NID_hmacWithSHA256, nullptr, nullptr, nullptr);
}

// Lives until the program ends; freeing it unloads its providers.
class LibraryContext {
public:
    explicit LibraryContext(Library library) noexcept
        : m_context(OSSL_LIB_CTX_new()),
          m_default(Load("default")),
          m_legacy(Load("legacy")),
          m_ownKdfs(library == Library::Tool && m_default != nullptr
                        ? kdfprovider::Install(m_context)
                        : nullptr) {
        AddSha3Prfs();
    }
    LibraryContext(const LibraryContext&) = delete;
    LibraryContext& operator=(const LibraryContext&) = delete;
    ~LibraryContext() {
        OSSL_PROVIDER_unload(m_ownKdfs);
        OSSL_PROVIDER_unload(m_legacy);
        OSSL_PROVIDER_unload(m_default);
        OSSL_LIB_CTX_free(m_context);
    }

    // Null unless both providers are there.
    OSSL_LIB_CTX* get() const noexcept {
        return m_default != nullptr && m_legacy != nullptr ? m_context : nullptr;
    }

private:
    // Never into the global context: a null context would mean that one.
    OSSL_PROVIDER* Load(const char* name) const noexcept {
        return m_context != nullptr ? OSSL_PROVIDER_load(m_context, name) : nullptr;
    }

    OSSL_LIB_CTX* m_context;
    OSSL_PROVIDER* m_default;
    OSSL_PROVIDER* m_legacy;
    OSSL_PROVIDER* m_ownKdfs;  // the tool's only; without it derivations are only slower
};

// Both are made at the first use of either, so that they go together at exit, after whatever
// was set up once they were there (the derivation threads among them).
struct LibraryContexts {
    LibraryContext tool{Library::Tool};
    LibraryContext openSsl{Library::OpenSsl};
};

OSSL_LIB_CTX* ContextOf(Library library) noexcept {
    static const LibraryContexts contexts;
    return library == Library::Tool ? contexts.tool.get() : contexts.openSsl.get();
}

thread_local Library t_library = Library::Tool;

// What PKCS#12 files use, today's and older ones; the first of each list is the common case.
constexpr const char* kDigests[] = {"SHA256", "SHA1", "SHA384", "SHA512", "SHA224", "MD5"};
constexpr const char* kCiphers[] = {"AES-256-CBC", "DES-EDE3-CBC", "RC2-40-CBC", "AES-128-CBC",
                                    "AES-192-CBC", "RC2-64-CBC",   "RC2-CBC",    "DES-EDE-CBC",
                                    "DES-CBC",     "RC4",          "RC4-40"};
constexpr const char* kKdfs[] = {"PBKDF2", "PKCS12KDF", "SCRYPT"};

// Fetching once leaves the method in the context's cache for the later fetches by name.
template <typename Fetched, Fetched* (*Fetch)(OSSL_LIB_CTX*, const char*, const char*),
          void (*Free)(Fetched*)>
bool FetchAll(OSSL_LIB_CTX* context, const char* const* names, size_t count) {
    bool first = false;
    for (size_t i = 0; i < count; ++i) {
        Fetched* const fetched = Fetch(context, names[i], nullptr);
        first = i == 0 ? fetched != nullptr : first;
        Free(fetched);
    }
    return first;
}

// Fetches in `context` what a PKCS#12 file may ask for.
bool FetchCommon(OSSL_LIB_CTX* context) {
    const bool digests =
        FetchAll<EVP_MD, EVP_MD_fetch, EVP_MD_free>(context, kDigests, std::size(kDigests));
    const bool ciphers = FetchAll<EVP_CIPHER, EVP_CIPHER_fetch, EVP_CIPHER_free>(
        context, kCiphers, std::size(kCiphers));
    const bool kdfs = std::all_of(std::begin(kKdfs), std::end(kKdfs), [&](const char* name) {
        // A context of each also fetches what the tool's provider hands derivations to.
        EVP_KDF* const kdf = EVP_KDF_fetch(context, name, nullptr);
        EVP_KDF_CTX_free(EVP_KDF_CTX_new(kdf));
        EVP_KDF_free(kdf);
        return kdf != nullptr;
    });
    EVP_MAC* const hmac = EVP_MAC_fetch(context, "HMAC", nullptr);
    EVP_MAC_free(hmac);
    return digests && ciphers && kdfs && hmac != nullptr;
}

}  // namespace

bool WarmUp() noexcept {
    bool ready = true;
    // OpenSSL's own context checks what the tool's wrote: it reads, and needs no random bytes.
    for (const Library library : {Library::OpenSsl, Library::Tool}) {
        const ScopedContext scope(library);
        ready = scope.ok() && FetchCommon(ContextOf(library)) && ready;
    }
    const ScopedContext scope;
    std::array<unsigned char, 16> salt{};
    const bool seeded =
        scope.ok() && RAND_bytes_ex(ContextOf(Library::Tool), salt.data(), salt.size(), 0) == 1;
    return ready && seeded;
}

SecretBytes Der(const void* object, const ASN1_ITEM* item) noexcept {
    const auto* const value = static_cast<const ASN1_VALUE*>(object);
    const int length = ASN1_item_i2d(value, nullptr, item);
    if (length <= 0) {
        return {};
    }
    try {
        SecretBytes der = SecretBytes::Zeroed(static_cast<std::size_t>(length));
        unsigned char* cursor = der.data();
        return ASN1_item_i2d(value, &cursor, item) == length ? std::move(der) : SecretBytes();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

ScopedContext::ScopedContext(Library library) noexcept : m_previousLibrary(t_library) {
    OSSL_LIB_CTX* const context = ContextOf(library);
    if (context != nullptr) {
        m_previous = OSSL_LIB_CTX_set0_default(context);
        t_library = library;
    }
}

ScopedContext::~ScopedContext() {
    if (m_previous != nullptr) {
        OSSL_LIB_CTX_set0_default(m_previous);
        t_library = m_previousLibrary;
    }
    ERR_clear_error();
}

Library CurrentLibrary() noexcept {
    return t_library;
}

}  // namespace ossl
