#include "platform/pfx_store.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <new>
#include <string>

namespace {

void AppendUtf8(ossl::Secret& out, char32_t code) {
    if (code < 0x80) {
        out.Append(static_cast<char>(code));
    } else if (code < 0x800) {
        out.Append(static_cast<char>(0xC0 | (code >> 6)));
        out.Append(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.Append(static_cast<char>(0xE0 | (code >> 12)));
        out.Append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.Append(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.Append(static_cast<char>(0xF0 | (code >> 18)));
        out.Append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.Append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.Append(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Secret bags hold their value in clear; wipe it before OpenSSL releases it.
void WipeBagValue(const PKCS12_SAFEBAG* bag) {
    if (PKCS12_SAFEBAG_get_nid(bag) != NID_secretBag) {
        return;
    }
    const ASN1_TYPE* value = PKCS12_SAFEBAG_get0_bag_obj(bag);
    if (value != nullptr && value->type != V_ASN1_BOOLEAN && value->type != V_ASN1_NULL &&
        value->type != V_ASN1_OBJECT && value->value.asn1_string != nullptr) {
        ASN1_STRING* text = value->value.asn1_string;
        OPENSSL_cleanse(const_cast<unsigned char*>(ASN1_STRING_get0_data(text)),
                        static_cast<size_t>(ASN1_STRING_length(text)));
    }
}

// The encodings of a bag's attributes, sorted: attributes form a SET, whose order a file
// need not keep and a DER encoder sorts.
std::vector<std::string> AttributeEncodings(const PKCS12_SAFEBAG* bag) {
    const STACK_OF(X509_ATTRIBUTE)* attributes = PKCS12_SAFEBAG_get0_attrs(bag);
    std::vector<std::string> encodings;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        const SecretBytes der =
            ossl::Der(sk_X509_ATTRIBUTE_value(attributes, i), ASN1_ITEM_rptr(X509_ATTRIBUTE));
        encodings.emplace_back(reinterpret_cast<const char*>(der.data()), der.size());
    }
    std::sort(encodings.begin(), encodings.end());
    return encodings;
}

bool SameAttributes(const PKCS12_SAFEBAG* first, const PKCS12_SAFEBAG* second) {
    return AttributeEncodings(first) == AttributeEncodings(second);
}

// Whether both encode, to the same bytes.
bool SameDer(const void* first, const void* second, const ASN1_ITEM* item) {
    const SecretBytes firstDer = ossl::Der(first, item);
    return !firstDer.empty() && firstDer == ossl::Der(second, item);
}

bool SameBag(const StoredBag& first, const StoredBag& second) {
    if (PKCS12_SAFEBAG_get_nid(first.bag.get()) != PKCS12_SAFEBAG_get_nid(second.bag.get()) ||
        !first.key != !second.key) {
        return false;
    }
    // A key is compared decrypted, its encryption differing with every salt, and its
    // attributes apart. Any other bag is compared whole: its DER holds the attributes too, as
    // a SET, which the encoder sorts.
    if (first.key) {
        return SameAttributes(first.bag.get(), second.bag.get()) &&
               SameDer(first.key.get(), second.key.get(), ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO));
    }
    return SameDer(first.bag.get(), second.bag.get(), ASN1_ITEM_rptr(PKCS12_SAFEBAG));
}

bool SameKey(const StoredBag& first, const StoredBag& second) {
    return !first.key == !second.key &&
           (!first.key ||
            SameDer(first.key.get(), second.key.get(), ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO)));
}

bool SameSafe(const StoredSafe& first, const StoredSafe& second) {
    if (first.protection.has_value() != second.protection.has_value()) {
        return false;
    }
    // The same encoding holds the same bags with the same attributes, keys as encrypted; the
    // keys are compared decrypted still. Encodings differ with every re-encryption of a key,
    // and with the order of attributes: then each bag is compared.
    if (!first.encoding.empty() && first.encoding == second.encoding) {
        return std::equal(first.bags.begin(), first.bags.end(), second.bags.begin(),
                          second.bags.end(), SameKey);
    }
    return std::equal(first.bags.begin(), first.bags.end(), second.bags.begin(), second.bags.end(),
                      SameBag);
}

ossl::Secret Utf8FromWide(LPCWSTR password) {
    size_t units = 0;
    while (password != nullptr && password[units] != 0) {
        ++units;
    }
    ossl::Secret text;
    text.Reserve(3 * units);
    for (const WCHAR* unit = password; unit != nullptr && *unit != 0; ++unit) {
        char32_t code = *unit;
        if (code >= 0xD800 && code <= 0xDBFF && unit[1] >= 0xDC00 && unit[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit[1] - 0xDC00);
            ++unit;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(text, code);
    }
    return text;
}

}  // namespace

CertStore::~CertStore() {
    for (const StoredSafe& safe : safes) {
        for (const StoredBag& stored : safe.bags) {
            WipeBagValue(stored.bag.get());
        }
    }
    // Keys wipe themselves when freed (PKCS8_PRIV_KEY_INFO), the password and the encodings
    // in their destructors.
}

Passwords PasswordsFrom(LPCWSTR password) {
    Passwords passwords{Utf8FromWide(password), {}};
    const ossl::Secret& utf8 = passwords.utf8;
    passwords.widened.Reserve(2 * utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        AppendUtf8(passwords.widened, static_cast<unsigned char>(utf8.c_str()[i]));
    }
    return passwords;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD /*flags*/) noexcept {
    const std::unique_ptr<CertStore> owned(store);
    return TRUE;
}

bool CertStoresHoldSameBags(HCERTSTORE first, HCERTSTORE second) noexcept {
    if (first == nullptr || second == nullptr) {
        return false;
    }
    try {
        const ossl::ScopedContext context;
        return first->mac.has_value() == second->mac.has_value() &&
               std::equal(first->safes.begin(), first->safes.end(), second->safes.begin(),
                          second->safes.end(), SameSafe);
    } catch (const std::bad_alloc&) {
        return false;  // not shown to be the same
    }
}
