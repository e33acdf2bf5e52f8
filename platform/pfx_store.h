#pragma once
// The inside of a certificate store: the file's parts in order, each with its bags.

#include <optional>
#include <vector>

#include "platform/crypt32.h"
#include "platform/openssl_context.h"
#include "platform/pbe_params.h"
#include "platform/pbmac1.h"

// The password in the two encodings a file may have been made with, wiped when released: the
// standard one (UTF-8, which OpenSSL gives the PKCS#12 derivation and MAC as BMPString), and,
// as OpenSSL releases before 1.1.0 did, every UTF-8 byte taken as one character. Both are
// read; an export always writes the standard one, the only one readers try today.
struct Passwords {
    ossl::Secret utf8;
    ossl::Secret widened;  // the same as utf8 for an ASCII password
};

// Invalid UTF-16 becomes U+FFFD.
Passwords PasswordsFrom(LPCWSTR password);

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
    int digestNid = 0;  // NID_pbmac1 for PBMAC1
    long iterations = 1;
    int saltLength = 0;
    std::optional<pbmac1::Params> pbmac1;  // the PBMAC1 parameters instead of the PKCS#12 MAC's
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
