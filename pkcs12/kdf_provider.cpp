#include "pkcs12/kdf_provider.h"

#include <openssl/core.h>
#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/objects.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "pkcs12/hmac_kdf.h"
#include "platform/secret.h"

namespace kdfprovider {
namespace {

constexpr char kProviderName[] = "pintool";
constexpr char kPreferred[] = "?provider=pintool";
constexpr char kDefault[] = "provider=default";
// The algorithms offered, by index.
constexpr std::array<const char*, 2> kNames = {"PBKDF2", "PKCS12KDF"};

OSSL_LIB_CTX* g_installing = nullptr;  // set only while the provider is loaded, on one thread

// The provider's own state: the default provider's methods, fetched at their first use rather
// than while the provider loads.
class Provider {
public:
    explicit Provider(OSSL_LIB_CTX* context) noexcept : m_context(context) {}

    OSSL_LIB_CTX* context() const noexcept { return m_context; }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    ~Provider() {
        for (EVP_KDF* inner : m_inner) {
            EVP_KDF_free(inner);
        }
    }

    EVP_KDF* Inner(std::size_t algorithm) {
        std::call_once(m_fetched[algorithm], [&] {
            m_inner[algorithm] = EVP_KDF_fetch(m_context, kNames[algorithm], kDefault);
        });
        return m_inner[algorithm];
    }

private:
    OSSL_LIB_CTX* m_context;
    std::array<std::once_flag, kNames.size()> m_fetched;
    std::array<EVP_KDF*, kNames.size()> m_inner{};
};

void FreeKdfContext(EVP_KDF_CTX* context) noexcept {
    EVP_KDF_CTX_free(context);
}

// An integer parameter as captured (its type, then its value), where it is not negative.
template <typename T>
std::optional<std::uint64_t> Count(const char* data) noexcept {
    T value{};
    std::memcpy(&value, data, sizeof value);
    if constexpr (std::is_signed_v<T>) {
        if (value < 0) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint64_t>(value);
}

// One derivation: the default provider's context, and every parameter given to it as that
// context took it, so that the inputs can be told apart exactly and hmac_kdf derives from what
// OpenSSL would.
class Derivation {
public:
    Derivation(std::size_t algorithm, EVP_KDF_CTX* inner, OSSL_LIB_CTX* context) noexcept
        : m_algorithm(algorithm), m_inner(inner), m_context(context) {}
    Derivation(const Derivation&) = delete;
    Derivation& operator=(const Derivation&) = delete;
    ~Derivation() { FreeKdfContext(m_inner); }

    bool Set(const OSSL_PARAM* params) {
        if (params == nullptr) {
            return true;
        }
        if (EVP_KDF_CTX_set_params(m_inner, params) != 1) {
            // OpenSSL takes them one by one and may have taken some before the one it refused.
            m_unknown = true;
            return false;
        }
        // Where a name comes twice, OpenSSL takes the first.
        for (const OSSL_PARAM* param = params; param->key != nullptr; ++param) {
            if (OSSL_PARAM_locate_const(params, param->key) == param) {
                Capture(*param);
            }
        }
        return true;
    }

    bool Derive(unsigned char* key, std::size_t length, const OSSL_PARAM* params) {
        if (!Set(params)) {
            return false;
        }
        return DeriveDirectly(key, length) || EVP_KDF_derive(m_inner, key, length, nullptr) == 1;
    }

    void Reset() {
        EVP_KDF_CTX_reset(m_inner);
        m_params.clear();
        m_unknown = false;
    }

    EVP_KDF_CTX* inner() const noexcept { return m_inner; }

private:
    // Derives with hmac_kdf when every parameter given is one it takes and the digest one it
    // has; false, with nothing written, where OpenSSL is to derive. The default provider has
    // already accepted the parameters. PBKDF2 only when its lower-bound checks were turned
    // off, as OpenSSL's PKCS#5 functions do, so that no check is skipped; the PKCS#12 KDF not
    // with both password and salt empty, which OpenSSL refuses.
    bool DeriveDirectly(unsigned char* key, std::size_t length) const {
        const bool pbkdf2 = m_algorithm == 0;
        const std::array<const char*, 6> known = {
            OSSL_KDF_PARAM_PASSWORD,   OSSL_KDF_PARAM_SALT,
            OSSL_KDF_PARAM_ITER,       OSSL_KDF_PARAM_DIGEST,
            OSSL_KDF_PARAM_PROPERTIES, pbkdf2 ? OSSL_KDF_PARAM_PKCS5 : OSSL_KDF_PARAM_PKCS12_ID};
        for (const auto& param : m_params) {
            if (std::none_of(known.begin(), known.end(),
                             [&](const char* k) { return param.first == k; })) {
                return false;
            }
        }
        const std::optional<std::uint64_t> iterations = Integer(OSSL_KDF_PARAM_ITER);
        const std::optional<std::uint64_t> last = Integer(known.back());
        const auto password = Octets(OSSL_KDF_PARAM_PASSWORD);
        const auto salt = Octets(OSSL_KDF_PARAM_SALT);
        const auto digest = NamedDigest();
        if (m_unknown || length == 0 || !iterations || *iterations < 1 || !last ||
            (pbkdf2 ? *last == 0 : *last > 255) || !password || !salt ||
            (!pbkdf2 && password->length == 0 && salt->length == 0) || !digest) {
            return false;
        }
        if (pbkdf2) {
            hmackdf::Pbkdf2(*digest, *password, *salt, *iterations, key, length);
        } else {
            hmackdf::Pkcs12(*digest, *password, *salt, static_cast<int>(*last), *iterations, key,
                            length);
        }
        return true;
    }

    const Secret* Captured(const char* name) const {
        const auto found = m_params.find(name);
        return found != m_params.end() && !found->second.empty() ? &found->second : nullptr;
    }

    std::optional<std::uint64_t> Integer(const char* name) const {
        const Secret* value = Captured(name);
        if (value == nullptr) {
            return std::nullopt;
        }
        const char* const data = value->data() + 1;
        const std::size_t size = value->size() - 1;
        switch (value->data()[0]) {
            case OSSL_PARAM_INTEGER:
                return size == 4   ? Count<std::int32_t>(data)
                       : size == 8 ? Count<std::int64_t>(data)
                                   : std::nullopt;
            case OSSL_PARAM_UNSIGNED_INTEGER:
                return size == 4   ? Count<std::uint32_t>(data)
                       : size == 8 ? Count<std::uint64_t>(data)
                                   : std::nullopt;
            default:
                return std::nullopt;
        }
    }

    std::optional<hmackdf::Input> Octets(const char* name) const {
        const Secret* value = Captured(name);
        if (value == nullptr || value->data()[0] != OSSL_PARAM_OCTET_STRING) {
            return std::nullopt;
        }
        return hmackdf::Input{reinterpret_cast<const unsigned char*>(value->data() + 1),
                              value->size() - 1};
    }

    std::optional<std::string> Text(const char* name) const {
        const Secret* value = Captured(name);
        if (value == nullptr || value->data()[0] != OSSL_PARAM_UTF8_STRING) {
            return std::nullopt;
        }
        std::string text(value->data() + 1, value->size() - 1);
        text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
        return text;
    }

    // The digest named, fetched as the default provider fetched it.
    std::optional<hmackdf::Digest> NamedDigest() const {
        const std::optional<std::string> name = Text(OSSL_KDF_PARAM_DIGEST);
        const std::optional<std::string> properties = Text(OSSL_KDF_PARAM_PROPERTIES);
        if (!name) {
            return std::nullopt;
        }
        EVP_MD* const md =
            EVP_MD_fetch(m_context, name->c_str(), properties ? properties->c_str() : nullptr);
        const int nid = md != nullptr ? EVP_MD_get_type(md) : NID_undef;
        EVP_MD_free(md);
        return hmackdf::DigestOf(nid);
    }

    // A parameter by value; one passed by pointer or without data cannot be read here, and
    // OpenSSL derives then.
    void Capture(const OSSL_PARAM& param) {
        if (param.data == nullptr) {
            m_unknown = true;
            return;
        }
        switch (param.data_type) {
            case OSSL_PARAM_INTEGER:
            case OSSL_PARAM_UNSIGNED_INTEGER:
            case OSSL_PARAM_REAL:
            case OSSL_PARAM_UTF8_STRING:
            case OSSL_PARAM_OCTET_STRING:
                break;
            default:
                m_unknown = true;
                return;
        }
        Secret value;
        value.Append(static_cast<char>(param.data_type));
        value.Append(static_cast<const char*>(param.data), param.data_size);
        m_params.insert_or_assign(param.key, std::move(value));
    }

    const std::size_t m_algorithm;
    EVP_KDF_CTX* const m_inner;
    OSSL_LIB_CTX* const m_context;
    std::map<std::string, Secret> m_params;
    // Whether what the default provider's context holds may differ from `m_params`: OpenSSL then
    // derives, until a reset.
    bool m_unknown = false;
};

Derivation* Of(void* derivation) {
    return static_cast<Derivation*>(derivation);
}

template <std::size_t Algorithm>
void* NewDerivation(void* state) {
    auto* const provider = static_cast<Provider*>(state);
    EVP_KDF* const inner = provider->Inner(Algorithm);
    EVP_KDF_CTX* const context = inner != nullptr ? EVP_KDF_CTX_new(inner) : nullptr;
    if (context == nullptr) {
        return nullptr;
    }
    try {
        return std::make_unique<Derivation>(Algorithm, context, provider->context()).release();
    } catch (const std::exception&) {
        FreeKdfContext(context);
        return nullptr;
    }
}

void FreeDerivation(void* derivation) {
    const std::unique_ptr<Derivation> owned(Of(derivation));
}

void ResetDerivation(void* derivation) {
    Of(derivation)->Reset();
}

int Derive(void* derivation, unsigned char* key, size_t length, const OSSL_PARAM params[]) {
    try {
        return Of(derivation)->Derive(key, length, params) ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int SetParams(void* derivation, const OSSL_PARAM params[]) {
    try {
        return Of(derivation)->Set(params) ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int GetParams(void* derivation, OSSL_PARAM params[]) {
    return EVP_KDF_CTX_get_params(Of(derivation)->inner(), params);
}

template <std::size_t Algorithm>
const OSSL_PARAM* Settable(void* /*derivation*/, void* provider) {
    EVP_KDF* const inner = static_cast<Provider*>(provider)->Inner(Algorithm);
    return inner != nullptr ? EVP_KDF_settable_ctx_params(inner) : nullptr;
}

template <std::size_t Algorithm>
const OSSL_PARAM* Gettable(void* /*derivation*/, void* provider) {
    EVP_KDF* const inner = static_cast<Provider*>(provider)->Inner(Algorithm);
    return inner != nullptr ? EVP_KDF_gettable_ctx_params(inner) : nullptr;
}

// OpenSSL's dispatch tables hold every function as this one type.
using AnyFunction = void (*)(void);
template <typename Function>
AnyFunction Entry(Function* function) {
    return reinterpret_cast<AnyFunction>(function);
}

template <std::size_t Algorithm>
const OSSL_DISPATCH kKdfFunctions[] = {
    {OSSL_FUNC_KDF_NEWCTX, Entry(&NewDerivation<Algorithm>)},
    {OSSL_FUNC_KDF_FREECTX, Entry(&FreeDerivation)},
    {OSSL_FUNC_KDF_RESET, Entry(&ResetDerivation)},
    {OSSL_FUNC_KDF_DERIVE, Entry(&Derive)},
    {OSSL_FUNC_KDF_SET_CTX_PARAMS, Entry(&SetParams)},
    {OSSL_FUNC_KDF_GET_CTX_PARAMS, Entry(&GetParams)},
    {OSSL_FUNC_KDF_SETTABLE_CTX_PARAMS, Entry(&Settable<Algorithm>)},
    {OSSL_FUNC_KDF_GETTABLE_CTX_PARAMS, Entry(&Gettable<Algorithm>)},
    {0, nullptr},
};

const OSSL_ALGORITHM kAlgorithms[] = {
    {kNames[0], "provider=pintool", kKdfFunctions<0>, nullptr},
    {kNames[1], "provider=pintool", kKdfFunctions<1>, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

const OSSL_ALGORITHM* QueryOperation(void* /*provider*/, int operation, int* noCache) {
    *noCache = 0;
    return operation == OSSL_OP_KDF ? kAlgorithms : nullptr;
}

void Teardown(void* provider) {
    const std::unique_ptr<Provider> owned(static_cast<Provider*>(provider));
}

const OSSL_DISPATCH kProviderFunctions[] = {
    {OSSL_FUNC_PROVIDER_TEARDOWN, Entry(&Teardown)},
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, Entry(&QueryOperation)},
    {0, nullptr},
};

int Init(const OSSL_CORE_HANDLE* /*core*/, const OSSL_DISPATCH* /*in*/, const OSSL_DISPATCH** out,
         void** provider) {
    try {
        *provider = std::make_unique<Provider>(g_installing).release();
        *out = kProviderFunctions;
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

OSSL_PROVIDER* Install(OSSL_LIB_CTX* context) noexcept {
    if (context == nullptr) {
        return nullptr;
    }
    g_installing = context;
    OSSL_PROVIDER* const provider = OSSL_PROVIDER_add_builtin(context, kProviderName, Init) == 1
                                        ? OSSL_PROVIDER_load(context, kProviderName)
                                        : nullptr;
    g_installing = nullptr;
    if (provider != nullptr && EVP_set_default_properties(context, kPreferred) != 1) {
        OSSL_PROVIDER_unload(provider);
        return nullptr;
    }
    return provider;
}

}  // namespace kdfprovider
