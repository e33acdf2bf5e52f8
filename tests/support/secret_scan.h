#pragma once
// Looks for secrets in memory the program has given up: the byte forms a PIN takes on its way
// through the tool and OpenSSL, the parts of an RSA private key, and a thread whose stack the
// test owns so that it can be read after the thread ended.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct Needle {
    std::string name;   // what it is, for the failure message
    std::string bytes;  // what must not be found
};

// The value of the secret key in the file BuildSecretKey makes for the scans: 32 bytes no other
// data holds by chance.
inline const std::string kSecretKey = "geheimer AES-256-Schluessel 2026";

// The PIN as UTF-8, UTF-16LE and UTF-16BE (OpenSSL's BMPString), and the same for its older
// widened form, in which every UTF-8 byte counts as one character.
std::vector<Needle> PinForms(const std::string& utf8Pin);

// Stretches of 16 bytes of every private part (d, p, q, dp, dq, qinv) of the RSA key in a PEM
// file, big-endian as in DER and little-endian as in a BIGNUM's words. Nothing it frees holds
// them.
std::vector<Needle> RsaPrivateParts(const std::string& keyPath);

// The first needle found in [data, data + length), or null. Allocates nothing.
const Needle* FindNeedle(const void* data, std::size_t length, const std::vector<Needle>& needles);

// The names of every needle found in the bytes, each once.
std::vector<std::string> FindNeedles(const std::vector<unsigned char>& bytes,
                                     const std::vector<Needle>& needles);

// Runs `body` on a new thread whose stack is `stack`, and waits for it.
void RunOnStack(std::vector<unsigned char>& stack, const std::function<void()>& body);

}  // namespace testing_support
