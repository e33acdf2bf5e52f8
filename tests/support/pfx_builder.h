#pragma once
// PKCS#12 files made with the OpenSSL API, for structures the openssl command does not write.

#include <cstdint>
#include <string>

namespace testing_support {

// Makes the legacy algorithms available to the test's own OpenSSL calls.
bool LoadLegacyProviders();

// Several keys (one without a certificate, one not encrypted at all), a CRL and a secret bag,
// friendly names, local key ids and other attributes, mixed algorithms (RC2-128 part, 3DES,
// RC4-40 and PBES2 with HMAC-SHA512 keys) and a SHA-384 MAC with a 16-byte salt.
// `dir` holds the keys and certificates make_fixtures.sh made.
void BuildExotic(const std::string& dir, const std::string& out, const std::string& pin);

// A legacy file whose PIN was encoded as older OpenSSL releases did: every UTF-8 byte taken
// as one character.
void BuildOldEncoding(const std::string& dir, const std::string& out, const std::string& pin);

// A file that asks for the given iterations (0: none) without them ever being run: a MAC,
// `parts` encrypted parts and one shrouded key. Its encrypted data is random.
std::string BuildIterationBomb(long macIterations, long partIterations, int parts,
                               long keyIterations);

// Like BuildIterationBomb: `parts` encrypted parts in PBES2 with PBKDF2 (`prfNid`) and the
// cipher `cipherNid`, each asking for `iterations`; no MAC.
std::string BuildPbkdf2Bomb(int parts, long iterations, int prfNid, int cipherNid);

// One encrypted part in PBES2 with scrypt of the given cost, block size and parallelism.
std::string BuildScryptBomb(std::uint64_t n, std::uint64_t r, std::uint64_t p);

// A file of tiny secret bags: `plainBags` in an unencrypted part, `encryptedBags` in a part
// encrypted under `pin` (PBES2, AES-256, one iteration); no MAC.
std::string BuildManyBags(int plainBags, int encryptedBags, const std::string& pin);

// A file with no MAC holding one secret bag of `bytes` bytes.
std::string BuildLargeSecret(size_t bytes);

// A secret key of the value `key`, kept as Java's key store keeps one (sealed under `pin` in a
// secret bag), in a part encrypted under `pin`; a SHA-256 MAC. Made in OpenSSL's memory alone, so
// that where the test program's OpenSSL wipes what it frees, nothing freed holds `key`.
std::string BuildSecretKey(const std::string& pin, const std::string& key);

// The password in the form older OpenSSL releases used: each byte widened to a character.
std::string WidenBytes(const std::string& password);

}  // namespace testing_support

namespace testing_support {

// One EC key and `certificates` certificates (the first for that key), in today's algorithms:
// certificates in a PBES2/AES-256 part, the key shrouded alike, a SHA-256 MAC.
void BuildManyCertificates(const std::string& out, const std::string& pin, int certificates);

// `keys` EC keys with a certificate each, named alike: the certificates in a PBES2/AES-256
// part, the keys shrouded alike in an unencrypted part or, where `keysInEncryptedPart`, in a
// second encrypted part; a SHA-256 MAC; 2048 iterations throughout.
void BuildManyKeys(const std::string& out, const std::string& pin, int keys,
                   bool keysInEncryptedPart);

// One EC key shrouded in PBES2 (AES-256, PBKDF2-HMAC-SHA256), its certificate in clear and a
// SHA-256 MAC, both derivations of `iterations`.
std::string BuildHeavyKey(const std::string& pin, int iterations);

// No MAC; an encrypted part (open with `pin`) holding a key whose derivation is beyond the
// budget, then an unencrypted part holding a key sealed under another password. Read in the
// file's order, the first is what fails.
std::string BuildKeysBeyondBudgetBeforeBrokenKey(const std::string& pin);

}  // namespace testing_support
