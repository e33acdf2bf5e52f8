#pragma once
// The inside of a certificate store: the file's parts in order, each with its bags.

#include <optional>
#include <vector>

#include "platform/crypt32.h"
#include "platform/openssl_context.h"
#include "platform/pbe_params.h"

// How the password was turned into bytes for a part: UTF-8, or, as older OpenSSL releases did,
// every UTF-8 byte taken as one character. An export keeps each part's encoding, so that the
// programs that read the part before still do.
enum class PasswordEncoding { Utf8, Widened };

// The password in both encodings, wiped when released.
struct Passwords {
    ossl::Secret utf8;
    ossl::Secret widened;  // the same as utf8 for an ASCII password

    const ossl::Secret& operator[](PasswordEncoding encoding) const noexcept {
        return encoding == PasswordEncoding::Utf8 ? utf8 : widened;
    }
};

// Invalid UTF-16 becomes U+FFFD.
Passwords PasswordsFrom(LPCWSTR password);

struct StoredBag {
    ossl::SafeBagPtr bag;                   // as in the file; shrouded keys still encrypted
    ossl::KeyInfoPtr key;                   // the decrypted key of a shrouded key bag
    std::optional<pbe::Params> protection;  // how that key was encrypted
    PasswordEncoding encoding = PasswordEncoding::Utf8;
};

struct StoredSafe {
    std::optional<pbe::Params> protection;  // set for password-encrypted parts
    PasswordEncoding encoding = PasswordEncoding::Utf8;
    std::vector<StoredBag> bags;  // decrypted bags of an encrypted part
};

struct MacParams {
    int digestNid = 0;
    long iterations = 1;
    int saltLength = 0;
    PasswordEncoding encoding = PasswordEncoding::Utf8;
};

struct CertStore {
    std::vector<StoredSafe> safes;
    std::optional<MacParams> mac;
    bool exportable = false;

    // The last export, so that the size query and the export derive keys only once.
    ossl::Secret exportPassword;
    std::vector<BYTE> exportEncoding;
    bool hasExport = false;

    CertStore() = default;
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;
    ~CertStore();
};
