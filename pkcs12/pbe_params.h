#pragma once
// How a part of a PKCS#12 file is protected by a password: read from an algorithm identifier,
// recreated with fresh salt and IV, and checked against the tool's limits on key derivations.

#include <cstdint>
#include <optional>
#include <vector>

#include "pkcs12/openssl_context.h"
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
    // The identifier as the file has it (DER), which an export repeats with fresh salt and IV;
    // empty for the protection the tool chooses itself.
    std::vector<unsigned char> identifier;
};

// The salt length written for a salt of `length` bytes: the same, except that an empty salt,
// which adds nothing to the derivation, becomes 8 bytes.
int SaltLengthFor(int length) noexcept;

// A positive count that fits an int, or 0 for anything else (absent, negative, too large).
long PositiveCount(const ASN1_INTEGER* value) noexcept;

// The output size of a digest, 0 when it is not available.
int DigestSize(int nid) noexcept;

// The DER of an algorithm identifier, empty on failure.
std::vector<unsigned char> EncodeIdentifier(const X509_ALGOR* algorithm);

// Fills `salt` with fresh random bytes, as many as SaltLengthFor its length.
bool RefreshSalt(ASN1_OCTET_STRING* salt);

// Fresh bytes for a salt that replaces one of `length` bytes (SaltLengthFor it); empty when
// the random generator fails.
std::vector<unsigned char> NewSalt(int length);

// What a derivation costs: its iterations, run once for every block it makes.
inline std::int64_t WorkOf(const Params& params) noexcept {
    return static_cast<std::int64_t>(params.iterations) * params.blocks;
}

// What the tool writes for a key that had no protection: PBES2 with PBKDF2-HMAC-SHA256 and
// AES-256-CBC, an 8-byte salt.
Params DefaultKeyProtection(long iterations) noexcept;

// Null when the identifier is no password-based scheme this tool can handle.
std::optional<Params> Read(const X509_ALGOR* algorithm);
// Whether Read found nothing because the identifier is damaged: a scheme the tool knows with
// parameters no password opens (missing, without a salt, a count below 1 or beyond an int).
bool Broken(const X509_ALGOR* algorithm);

// A part encrypted under a password, with the algorithm identifier that says how.
struct Encrypted {
    ossl::AlgorPtr algorithm;
    ossl::OctetStringPtr data;
};

// Encrypts `value` (of ASN.1 type `item`) the way `params` describe: with the identifier the
// file had, every parameter as it was, only salt and IV fresh. Empty members on failure, never
// another algorithm.
Encrypted Encrypt(const Params& params, const ASN1_ITEM* item, const void* value,
                  const ossl::Secret& password);
// The same for an encoding already made.
Encrypted EncryptBytes(const Params& params, const unsigned char* bytes, long length,
                       const ossl::Secret& password);

// Decrypted contents, wiped when released: they may hold keys.
using Plaintext = SecretBytes;

// Decrypts `data`, encrypted as `algorithm` says, into `out`; false where the password or the
// data is wrong.
bool Decrypt(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data,
             const ossl::Secret& password, Plaintext& out);

}  // namespace pbe
