#include <openssl/objects.h>

#include <limits>
#include <new>

#include "platform/file_api.h"
#include "platform/pfx_store.h"

namespace {

// Decodes a PFX; the whole blob must be the one structure, nothing before or after it.
ossl::Pkcs12Ptr Decode(const CRYPT_DATA_BLOB* pfx) {
    if (pfx == nullptr || pfx->pbData == nullptr || pfx->cbData == 0 ||
        pfx->cbData > static_cast<DWORD>(std::numeric_limits<long>::max())) {
        return nullptr;
    }
    const unsigned char* cursor = pfx->pbData;
    ossl::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx->cbData)));
    if (p12 && cursor != pfx->pbData + pfx->cbData) {
        p12.reset();
    }
    return p12;
}

// Why an import failed, as the Windows error code.
struct ImportError {
    DWORD code;
};

class Importer {
public:
    Importer(PKCS12* p12, Passwords passwords) : m_p12(p12), m_passwords(std::move(passwords)) {}

    std::optional<ImportError> Run(CertStore& store) {
        ossl::SafesPtr safes(PKCS12_unpack_authsafes(m_p12));
        if (!safes) {
            return ImportError{CRYPT_E_BAD_ENCODE};
        }
        // Everything the file asks of the key derivations is checked before the first one.
        if (auto error = Plan(store, safes.get())) {
            return error;
        }
        if (store.mac) {
            const auto encoding = FirstThatOpens([&](const ossl::Secret& password) {
                return PKCS12_verify_mac(m_p12, password.data(), password.size()) == 1;
            });
            if (!encoding) {
                return ImportError{ERROR_INVALID_PASSWORD};
            }
            store.mac->encoding = *encoding;
        }
        for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
            if (auto error =
                    OpenSafe(store.safes[static_cast<size_t>(i)], sk_PKCS7_value(safes.get(), i))) {
                return error;
            }
        }
        return std::nullopt;
    }

private:
    std::optional<ImportError> Plan(CertStore& store, STACK_OF(PKCS7) * safes) {
        if (PKCS12_mac_present(m_p12)) {
            const ASN1_OBJECT* digest = nullptr;
            const ASN1_OCTET_STRING* salt = nullptr;
            const ASN1_INTEGER* iterations = nullptr;
            const X509_ALGOR* algorithm = nullptr;
            PKCS12_get0_mac(nullptr, &algorithm, &salt, &iterations, m_p12);
            X509_ALGOR_get0(&digest, nullptr, nullptr, algorithm);
            MacParams mac;
            mac.digestNid = OBJ_obj2nid(digest);
            mac.iterations = iterations == nullptr ? 1 : ASN1_INTEGER_get(iterations);
            mac.saltLength = salt == nullptr ? 0 : ASN1_STRING_length(salt);
            if (!m_budget.Spend(mac.iterations)) {
                return ImportError{NTE_BAD_DATA};
            }
            store.mac = mac;
        }
        for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
            PKCS7* safe = sk_PKCS7_value(safes, i);
            StoredSafe& stored = store.safes.emplace_back();
            switch (OBJ_obj2nid(safe->type)) {
                case NID_pkcs7_data:
                    if (auto error = PlanBags(stored, PKCS12_unpack_p7data(safe))) {
                        return error;
                    }
                    break;
                case NID_pkcs7_encrypted:
                    if (safe->d.encrypted == nullptr || safe->d.encrypted->enc_data == nullptr) {
                        return ImportError{CRYPT_E_BAD_ENCODE};
                    }
                    stored.protection = pbe::Read(safe->d.encrypted->enc_data->algorithm);
                    if (!stored.protection) {
                        return ImportError{NTE_BAD_ALGID};
                    }
                    if (!m_budget.Spend(stored.protection->iterations)) {
                        return ImportError{NTE_BAD_DATA};
                    }
                    break;
                default:  // public-key protected parts cannot be opened with a password
                    return ImportError{NTE_BAD_ALGID};
            }
        }
        return std::nullopt;
    }

    // Takes over the bags of one part, reading how each shrouded key is protected.
    std::optional<ImportError> PlanBags(StoredSafe& stored, STACK_OF(PKCS12_SAFEBAG) * raw) {
        ossl::SafeBagsPtr bags(raw);
        if (!bags) {
            return ImportError{CRYPT_E_BAD_ENCODE};
        }
        while (sk_PKCS12_SAFEBAG_num(bags.get()) > 0) {
            StoredBag& bag = stored.bags.emplace_back();
            bag.bag.reset(sk_PKCS12_SAFEBAG_shift(bags.get()));
            switch (PKCS12_SAFEBAG_get_nid(bag.bag.get())) {
                case NID_pkcs8ShroudedKeyBag: {
                    const X509_ALGOR* algorithm = nullptr;
                    X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag.bag.get()), &algorithm, nullptr);
                    bag.protection = pbe::Read(algorithm);
                    if (!bag.protection) {
                        return ImportError{NTE_BAD_ALGID};
                    }
                    if (!m_budget.Spend(bag.protection->iterations)) {
                        return ImportError{NTE_BAD_DATA};
                    }
                    break;
                }
                case NID_safeContentsBag:  // nested parts are not written back faithfully
                    return ImportError{NTE_BAD_ALGID};
                default:
                    break;
            }
        }
        return std::nullopt;
    }

    // The first encoding of the password with which `opens` succeeds: UTF-8, then, for a
    // password beyond ASCII, the older one.
    template <typename Attempt>
    std::optional<PasswordEncoding> FirstThatOpens(const Attempt& opens) const {
        if (opens(m_passwords.utf8)) {
            return PasswordEncoding::Utf8;
        }
        if (!(m_passwords.widened == m_passwords.utf8) && opens(m_passwords.widened)) {
            return PasswordEncoding::Widened;
        }
        return std::nullopt;
    }

    std::optional<ImportError> OpenSafe(StoredSafe& stored, PKCS7* safe) {
        if (stored.protection) {
            STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
            const auto encoding = FirstThatOpens([&](const ossl::Secret& password) {
                bags = PKCS12_unpack_p7encdata(safe, password.data(), password.size());
                return bags != nullptr;
            });
            if (!encoding) {
                return ImportError{ERROR_INVALID_PASSWORD};
            }
            stored.encoding = *encoding;
            if (auto error = PlanBags(stored, bags)) {
                return error;
            }
        }
        for (StoredBag& bag : stored.bags) {
            if (bag.protection && !DecryptKey(bag)) {
                return ImportError{ERROR_INVALID_PASSWORD};
            }
        }
        return std::nullopt;
    }

    bool DecryptKey(StoredBag& bag) {
        const X509_SIG* sealed = PKCS12_SAFEBAG_get0_pkcs8(bag.bag.get());
        const auto encoding = FirstThatOpens([&](const ossl::Secret& password) {
            bag.key.reset(
                PKCS8_decrypt_ex(sealed, password.data(), password.size(), nullptr, nullptr));
            return bag.key != nullptr;
        });
        bag.encoding = encoding.value_or(PasswordEncoding::Utf8);
        return encoding.has_value();
    }

    PKCS12* m_p12;
    Passwords m_passwords;
    pbe::IterationBudget m_budget;
};

}  // namespace

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) noexcept {
    const ossl::ScopedContext context;
    return Decode(pfx) ? TRUE : FALSE;
}

HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) noexcept {
    try {
        const ossl::ScopedContext context;
        if (!context.ok()) {
            SetLastError(NTE_FAIL);
            return nullptr;
        }
        const ossl::Pkcs12Ptr p12 = Decode(pfx);
        if (!p12) {
            SetLastError(CRYPT_E_BAD_ENCODE);
            return nullptr;
        }
        auto store = std::make_unique<CertStore>();
        store->exportable = (flags & CRYPT_EXPORTABLE) != 0;
        if (const auto error = Importer(p12.get(), PasswordsFrom(password)).Run(*store)) {
            SetLastError(error->code);
            return nullptr;
        }
        SetLastError(ERROR_SUCCESS);
        return store.release();
    } catch (const std::bad_alloc&) {
        SetLastError(NTE_NO_MEMORY);
        return nullptr;
    }
}
