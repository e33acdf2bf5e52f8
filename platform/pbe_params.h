#pragma once
// How a part of a PKCS#12 file is protected by a password: read from an algorithm identifier,
// recreated with fresh salt and IV, and checked against the tool's iteration limits.

#include <optional>

#include "platform/openssl_context.h"

namespace pbe {

enum class Scheme {
    PbeParam,  // PKCS#12 and PKCS#5 v1 schemes: salt and iteration count only
    Pbkdf2,    // PBES2 with PBKDF2
    Scrypt,    // PBES2 with scrypt
};

struct Params {
    Scheme scheme = Scheme::PbeParam;
    int algorithmNid = 0;  // the PBE scheme, or NID_pbes2
    int cipherNid = 0;     // PBES2 only
    int prfNid = 0;        // PBKDF2 only
    int keyLength = 0;     // PBKDF2 only, where the file states it
    long iterations = 0;   // for scrypt: N * r * p, the work it stands for
    int saltLength = 0;
    unsigned long scryptN = 0, scryptR = 0, scryptP = 0;
};

// Null when the identifier is no password-based scheme this tool can handle.
std::optional<Params> Read(const X509_ALGOR* algorithm) noexcept;

// A part encrypted under a password, with the algorithm identifier that says how.
struct Encrypted {
    ossl::AlgorPtr algorithm;
    ossl::OctetStringPtr data;
};

// Encrypts `value` (of ASN.1 type `item`) the way `params` describe, with a fresh salt and IV.
// Where that scheme cannot encrypt here, PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC) with the same
// iteration count is used instead. Empty members on failure.
Encrypted Encrypt(const Params& params, const ASN1_ITEM* item, void* value,
                  const ossl::Secret& password) noexcept;

// Counts the iterations a file asks for; refuses single derivations and totals beyond limits.
class IterationBudget {
public:
    bool Spend(long iterations) noexcept;

private:
    long m_spent = 0;
};

}  // namespace pbe
