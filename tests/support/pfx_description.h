#pragma once
// An account of a PKCS#12 file made with OpenSSL alone, independent of the code under test:
// its MAC, each part and bag in order, their attributes, the digest of every certificate and
// of every decrypted key, and how each part was protected (algorithm, iterations, salt
// length). Two files with the same account differ only in salts, IVs and password.

#include <string>

namespace testing_support {

// "error: ..." when the file cannot be read with `password`.
std::string DescribePfx(const std::string& bytes, const std::string& password);

}  // namespace testing_support
