#include "pkcs12/pfx_store.h"

#include <algorithm>
#include <new>

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

bool SamePlain(const SealedValue& first, const SealedValue& second) {
    return first.opened && second.opened && SameSecret(first.plain, second.plain);
}

// The same bytes, and the same contents in what they hold encrypted.
bool SameBag(const StoredBag& first, const StoredBag& second) {
    return SameSecret(first.encoding, second.encoding) &&
           std::equal(first.sealed.begin(), first.sealed.end(), second.sealed.begin(),
                      second.sealed.end(), SamePlain);
}

bool SameSafe(const StoredSafe& first, const StoredSafe& second) {
    return first.protection.has_value() == second.protection.has_value() &&
           std::equal(first.bags.begin(), first.bags.end(), second.bags.begin(), second.bags.end(),
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
