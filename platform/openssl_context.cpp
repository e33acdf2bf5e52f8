#include "platform/openssl_context.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>

namespace ossl {
namespace {

OSSL_LIB_CTX* ToolContext() noexcept {
    static OSSL_LIB_CTX* const context = [] {
        OSSL_LIB_CTX* created = OSSL_LIB_CTX_new();
        if (created == nullptr || OSSL_PROVIDER_load(created, "default") == nullptr ||
            OSSL_PROVIDER_load(created, "legacy") == nullptr) {
            OSSL_LIB_CTX_free(created);
            return static_cast<OSSL_LIB_CTX*>(nullptr);
        }
        return created;
    }();
    return context;
}

}  // namespace

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        Wipe();
        m_text = std::move(other.m_text);
        other.Wipe();
    }
    return *this;
}

void Secret::Wipe() noexcept {
    // Wipe the whole allocation, not just the characters in use.
    m_text.resize(m_text.capacity());
    OPENSSL_cleanse(m_text.data(), m_text.size());
    m_text.clear();
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
