#pragma once
// PBKDF2 with HMAC and the PKCS#12 key derivation, for the digests PKCS#12 files use, made
// without allocating. OpenSSL 3.0 allocates and frees its hash contexts at every iteration,
// and the tool wipes every block OpenSSL frees: for these derivations that is most of the
// time. Here the keyed hash states are prepared once and copied for each iteration, on the
// stack, and wiped at the end. The results are those of RFC 8018 and RFC 7292, appendix B.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace hmackdf {

enum class Digest { kSha1, kSha224, kSha256, kSha384, kSha512 };

// The digest of an OpenSSL NID, where this file has it.
std::optional<Digest> DigestOf(int nid) noexcept;

struct Input {
    const unsigned char* bytes = nullptr;
    std::size_t length = 0;
};

// `iterations` and `length` at least 1.
void Pbkdf2(Digest digest, Input password, Input salt, std::uint64_t iterations, unsigned char* out,
            std::size_t length) noexcept;

// `password` as the derivation takes it (a BMPString with its two zero bytes for PKCS#12
// files); `id` 1 for keys, 2 for IVs, 3 for MAC keys; `password` and `salt` not both empty
// (OpenSSL refuses that). Throws std::bad_alloc.
void Pkcs12(Digest digest, Input password, Input salt, int id, std::uint64_t iterations,
            unsigned char* out, std::size_t length);

}  // namespace hmackdf
