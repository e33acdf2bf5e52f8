#pragma once
// The inside of a certificate store: the file's parts in order, each with its bags.

#include <optional>
#include <vector>

#include "pkcs12/crypt32.h"
#include "pkcs12/openssl_context.h"
#include "pkcs12/pbe_params.h"
#include "pkcs12/pbmac1.h"

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

// A value of a bag encrypted under the password: a shrouded key, or an EncryptedPrivateKeyInfo
// elsewhere in a bag, as Java keeps its secret keys.
struct SealedValue {
    std::vector<std::size_t> path;  // where in the bag's encoding, for ber::Replace
    pbe::Params protection;
    bool privateKey = false;  // the key of a shrouded key bag
    SecretBytes encoding;     // as read, until opened
    pbe::Plaintext plain;     // what it holds, once opened
    bool opened = false;
};

struct StoredBag {
    // As in the file, or as the last export wrote it: written back byte for byte (attributes
    // in their order and all), but for the sealed values, which are encrypted anew.
    SecretBytes encoding;
    int type = 0;  // the bag's NID
    std::vector<SealedValue> sealed;
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
    SecretBytes exportEncoding;
    bool hasExport = false;

    CertStore() = default;
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;
    ~CertStore() = default;  // everything secret wipes itself
};
