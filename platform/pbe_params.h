#pragma once
// How a part of a PKCS#12 file is protected by a password: read from an algorithm identifier,
// recreated with fresh salt and IV, and checked against the tool's limits on key derivations.

#include <cstdint>
#include <optional>

#include "platform/openssl_context.h"
#include "platform/win32_types.h"

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
    long blocks = 1;       // hash-sized blocks the derivation makes, each running every iteration
    int saltLength = 0;
    std::uint64_t scryptN = 0, scryptR = 0, scryptP = 0;
};

// What the tool writes for a key that had no protection: PBES2 with PBKDF2-HMAC-SHA256 and
// AES-256-CBC, an 8-byte salt.
Params DefaultKeyProtection(long iterations) noexcept;

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

// Counts the work one pass over a file asks of its key derivations, iterations times blocks,
// so that a file beyond the limits is refused before the first derivation runs.
class WorkBudget {
public:
    // ERROR_SUCCESS when the derivation fits, otherwise the PINTOOL_E_ code of the limit.
    DWORD Charge(const Params& derivation) noexcept;
    // The MAC's key is one block of its digest. A count below 1 is damage: NTE_BAD_DATA.
    DWORD ChargeMac(long iterations) noexcept;

private:
    DWORD Spend(long iterations, long blocks) noexcept;

    std::int64_t m_spent = 0;
};

}  // namespace pbe
