#pragma once
// An account of a PKCS#12 file made with OpenSSL alone, independent of the code under test:
// its MAC, each part and bag in order, their attributes, the digest of every certificate and
// of every decrypted key, and how each part was protected (algorithm, iterations, salt
// length). Two files with the same account differ only in salts, IVs and password.

#include <string>

namespace testing_support {

// "error: ..." when the file cannot be read with `password`.
std::string DescribePfx(const std::string& bytes, const std::string& password);

// What a PIN change gives a key that had no protection: the largest iteration count the
// description shows, at least 2048.
long IterationsForKeysInClear(const std::string& description);

// The description of a file after a PIN change: plain keys in unencrypted parts become
// shrouded keys (PBES2, PBKDF2-HMAC-SHA256, AES-256-CBC, 8-byte salt) with their attributes,
// and a file with no protection at all gets a SHA-256 MAC; everything else stays.
std::string ExpectedAfterChange(const std::string& description);

}  // namespace testing_support
