#pragma once
// The inside of a certificate store: the file's parts in order, each with its bags.

#include <optional>
#include <vector>

#include "platform/crypt32.h"
#include "platform/openssl_context.h"
#include "platform/pbe_params.h"

struct StoredBag {
    ossl::SafeBagPtr bag;                   // as in the file; shrouded keys still encrypted
    ossl::KeyInfoPtr key;                   // the decrypted key of a shrouded key bag
    std::optional<pbe::Params> protection;  // how that key was encrypted
};

struct StoredSafe {
    std::optional<pbe::Params> protection;  // set for password-encrypted parts
    std::vector<StoredBag> bags;            // decrypted bags of an encrypted part
};

struct MacParams {
    int digestNid = 0;
    long iterations = 1;
    int saltLength = 0;
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

// The password as OpenSSL takes it: UTF-8. Invalid UTF-16 becomes U+FFFD.
ossl::Secret Utf8FromWide(LPCWSTR password);

// The encodings to try for a part: UTF-8 first, then, for a password beyond ASCII, the one older
// OpenSSL releases wrote (every UTF-8 byte taken as one character).
std::vector<ossl::Secret> PasswordCandidates(LPCWSTR password);
