#include "platform/openssl_context.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>

namespace ossl {
namespace {

// Lives until the program ends; freeing it unloads its providers.
class ToolLibraryContext {
public:
    ToolLibraryContext() noexcept
        : m_context(OSSL_LIB_CTX_new()), m_default(Load("default")), m_legacy(Load("legacy")) {}
    ToolLibraryContext(const ToolLibraryContext&) = delete;
    ToolLibraryContext& operator=(const ToolLibraryContext&) = delete;
    ~ToolLibraryContext() {
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
};

OSSL_LIB_CTX* ToolContext() noexcept {
    static const ToolLibraryContext context;
    return context.get();
}

}  // namespace

Der::Der(const void* object, const ASN1_ITEM* item) noexcept
    : m_length(ASN1_item_i2d(static_cast<const ASN1_VALUE*>(object), &m_bytes, item)) {}

Der::~Der() {
    OPENSSL_clear_free(m_bytes, ok() ? static_cast<size_t>(m_length) : 0);
}

bool Der::operator==(const Der& other) const noexcept {
    return ok() && m_length == other.m_length &&
           CRYPTO_memcmp(m_bytes, other.m_bytes, static_cast<size_t>(m_length)) == 0;
}

ScopedContext::ScopedContext() noexcept {
    OSSL_LIB_CTX* const context = ToolContext();
    if (context != nullptr) {
        m_previous = OSSL_LIB_CTX_set0_default(context);
    }
}

ScopedContext::~ScopedContext() {
    if (m_previous != nullptr) {
        OSSL_LIB_CTX_set0_default(m_previous);
    }
    ERR_clear_error();
}

}  // namespace ossl
