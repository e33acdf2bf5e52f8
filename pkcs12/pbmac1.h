#pragma once
// PBMAC1 (RFC 9579) as a PKCS#12 file's integrity: an HMAC keyed by PBKDF2 of the password.
// OpenSSL 3.0 neither checks nor writes it; this does both with OpenSSL's PBKDF2 and HMAC.

#include <optional>
#include <vector>

#include "pkcs12/openssl_context.h"

namespace pbmac1 {

struct Params {
    int prfDigestNid = 0;   // the digest of PBKDF2's HMAC
    int hmacDigestNid = 0;  // the digest of the MAC's HMAC
    long iterations = 0;
    int saltLength = 0;
    int keyLength = 0;
    long blocks = 0;  // the PRF's blocks PBKDF2 makes for the key, each running every iteration
    // The MAC's algorithm identifier as the file has it (DER); an export repeats it with a
    // fresh salt.
    std::vector<unsigned char> identifier;
    // The MAC data's own salt and iteration count, which PBMAC1 leaves unused. Where the file
    // repeats PBKDF2's there, an export repeats the new ones; otherwise it keeps them as read
    // (RFC 9579's examples hold "NOT USED" and 1).
    bool macDataRepeatsKdf = true;
    std::vector<unsigned char> macDataSalt;
    long macDataIterations = 1;
    bool macDataStatesIterations = false;  // written out, though 1 is the default
};

// True when the file's MAC names PBMAC1.
bool Uses(const PKCS12* p12) noexcept;

// The parameters of the file's PBMAC1 MAC. Null when they are not sound: no PBKDF2, a key
// length missing, shorter than the HMAC's output or beyond any digest's, a MAC value of another
// length than the HMAC's, an unknown digest. The salt and iteration count are PBKDF2's; the
// MAC data's own are not used (RFC 9579), so a file whose MAC was made with others fails
// Verify.
std::optional<Params> Read(const PKCS12* p12);

// True when the file's MAC is the HMAC of its contents under `password`.
bool Verify(const PKCS12* p12, const Params& params, const ossl::Secret& password);

// Gives `p12` a PBMAC1 MAC under `password` with the parameters read and a fresh PBKDF2 salt
// of the same length (8 bytes for an empty one); the MAC data repeats that salt and the count,
// or keeps its own, as the file did.
bool Set(PKCS12* p12, const Params& params, const ossl::Secret& password);

}  // namespace pbmac1
