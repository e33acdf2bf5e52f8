// The hash functions of OpenSSL's low-level interface: they neither allocate nor free, and their
// states can be copied. OpenSSL 3.0 marks them deprecated, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "pkcs12/hmac_kdf.h"

#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "pkcs12/seams.h"
#include "platform/memory_api.h"
#include "platform/secret.h"

namespace hmackdf {
namespace {

template <typename State, int (*InitState)(State*), int (*Absorb)(State*, const void*, std::size_t),
          int (*Finish)(unsigned char*, State*), std::size_t BlockSize, std::size_t OutputSize>
struct Hash {
    using Context = State;
    static constexpr std::size_t kBlock = BlockSize;
    static constexpr std::size_t kSize = OutputSize;

    static void Init(State& state) noexcept { InitState(&state); }
    static void Update(State& state, const unsigned char* bytes, std::size_t length) noexcept {
        Absorb(&state, bytes, length);
    }
    static void Final(State& state, unsigned char* out) noexcept { Finish(out, &state); }
};

using Sha1 = Hash<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final, SHA_CBLOCK, SHA_DIGEST_LENGTH>;
using Sha224 =
    Hash<SHA256_CTX, SHA224_Init, SHA224_Update, SHA224_Final, SHA256_CBLOCK, SHA224_DIGEST_LENGTH>;
using Sha256 =
    Hash<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, SHA256_CBLOCK, SHA256_DIGEST_LENGTH>;
using Sha384 =
    Hash<SHA512_CTX, SHA384_Init, SHA384_Update, SHA384_Final, SHA512_CBLOCK, SHA384_DIGEST_LENGTH>;
using Sha512 =
    Hash<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final, SHA512_CBLOCK, SHA512_DIGEST_LENGTH>;

template <typename T>
void Wipe(T& object) noexcept {
    SecureZeroMemory(&object, sizeof object);
}

// Calls work.operator()<H>() with the hash H of `digest`.
template <typename Work>
void WithHash(Digest digest, Work&& work) {
    switch (digest) {
        case Digest::kSha1:
            return work.template operator()<Sha1>();
        case Digest::kSha224:
            return work.template operator()<Sha224>();
        case Digest::kSha256:
            return work.template operator()<Sha256>();
        case Digest::kSha384:
            return work.template operator()<Sha384>();
        case Digest::kSha512:
            return work.template operator()<Sha512>();
    }
}

// HMAC with the key's inner and outer states made once; every state it held is wiped at its end.
template <typename H>
class Hmac {
public:
    explicit Hmac(Input key) noexcept {
        std::array<unsigned char, H::kBlock> block{};
        if (key.length > H::kBlock) {
            H::Init(m_work);
            H::Update(m_work, key.bytes, key.length);
            H::Final(m_work, block.data());
        } else if (key.length > 0) {
            std::memcpy(block.data(), key.bytes, key.length);
        }
        Keyed(m_inner, block, 0x36);
        Keyed(m_outer, block, 0x5c);
        Wipe(block);
    }
    Hmac(const Hmac&) = delete;
    Hmac& operator=(const Hmac&) = delete;
    ~Hmac() {
        Wipe(m_inner);
        Wipe(m_outer);
        Wipe(m_work);
        Wipe(m_digest);
    }

    // The MAC of `first` followed by `second` into `out`, which may be `first`.
    void Mac(Input first, Input second, unsigned char* out) noexcept {
        m_work = m_inner;
        H::Update(m_work, first.bytes, first.length);
        H::Update(m_work, second.bytes, second.length);
        H::Final(m_work, m_digest.data());
        m_work = m_outer;
        H::Update(m_work, m_digest.data(), m_digest.size());
        H::Final(m_work, out);
    }

private:
    static void Keyed(typename H::Context& state, std::array<unsigned char, H::kBlock> block,
                      unsigned char pad) noexcept {
        for (unsigned char& byte : block) {
            byte ^= pad;
        }
        H::Init(state);
        H::Update(state, block.data(), block.size());
        Wipe(block);
    }

    typename H::Context m_inner{};
    typename H::Context m_outer{};
    typename H::Context m_work{};
    std::array<unsigned char, H::kSize> m_digest{};
};

template <typename H>
void Pbkdf2With(Input password, Input salt, std::uint64_t iterations, unsigned char* out,
                std::size_t length) noexcept {
    Hmac<H> hmac(password);
    std::array<unsigned char, H::kSize> link{}, block{};
    for (std::uint32_t index = 1; length > 0; ++index) {
        const std::array<unsigned char, 4> counter = {
            static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
            static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
        hmac.Mac(salt, {counter.data(), counter.size()}, link.data());
        block = link;
        for (std::uint64_t i = 1; i < iterations; ++i) {
            hmac.Mac({link.data(), link.size()}, {}, link.data());
            for (std::size_t k = 0; k < block.size(); ++k) {
                block[k] ^= link[k];
            }
        }
        const std::size_t taken = std::min(length, block.size());
        std::memcpy(out, block.data(), taken);
        out += taken;
        length -= taken;
    }
    Wipe(link);
    Wipe(block);
}

// `source` repeated to whole blocks of the hash, after `at`; nothing when it is empty.
template <typename H>
std::size_t Repeated(Input source, unsigned char* at) noexcept {
    const std::size_t length = H::kBlock * ((source.length + H::kBlock - 1) / H::kBlock);
    for (std::size_t k = 0; k < length; ++k) {
        at[k] = source.bytes[k % source.length];
    }
    return length;
}

template <typename H>
void Pkcs12With(Input password, Input salt, int id, std::uint64_t iterations, unsigned char* out,
                std::size_t length) {
    constexpr std::size_t v = H::kBlock;
    const auto whole = [](std::size_t n) { return v * ((n + v - 1) / v); };
    SecretBytes joined = SecretBytes::Zeroed(whole(salt.length) + whole(password.length));
    unsigned char* const material = joined.data();
    Repeated<H>(password, material + Repeated<H>(salt, material));
    std::array<unsigned char, v> diversifier{};
    diversifier.fill(static_cast<unsigned char>(id));
    std::array<unsigned char, H::kSize> hashed{};
    std::array<unsigned char, v> addend{};
    typename H::Context context{};
    for (;;) {
        H::Init(context);
        H::Update(context, diversifier.data(), diversifier.size());
        H::Update(context, material, joined.size());
        H::Final(context, hashed.data());
        for (std::uint64_t i = 1; i < iterations; ++i) {
            H::Init(context);
            H::Update(context, hashed.data(), hashed.size());
            H::Final(context, hashed.data());
        }
        const std::size_t taken = std::min(length, hashed.size());
        std::memcpy(out, hashed.data(), taken);
        out += taken;
        length -= taken;
        if (length == 0) {
            break;
        }
        // Every block of the material becomes itself plus the hash repeated plus one.
        for (std::size_t k = 0; k < v; ++k) {
            addend[k] = hashed[k % hashed.size()];
        }
        for (std::size_t start = 0; start < joined.size(); start += v) {
            unsigned carry = 1;
            for (std::size_t k = v; k-- > 0;) {
                carry += material[start + k] + addend[k];
                material[start + k] = static_cast<unsigned char>(carry);
                carry >>= 8;
            }
        }
    }
    Wipe(hashed);
    Wipe(addend);
    Wipe(context);
}

}  // namespace

std::optional<Digest> DigestOf(int nid) noexcept {
    static constexpr std::array<std::pair<int, Digest>, 5> kDigests = {{
        {NID_sha1, Digest::kSha1},
        {NID_sha224, Digest::kSha224},
        {NID_sha256, Digest::kSha256},
        {NID_sha384, Digest::kSha384},
        {NID_sha512, Digest::kSha512},
    }};
    for (const auto& [known, digest] : kDigests) {
        if (known == nid) {
            return digest;
        }
    }
    return std::nullopt;
}

void Pbkdf2(Digest digest, Input password, Input salt, std::uint64_t iterations, unsigned char* out,
            std::size_t length) noexcept {
    WithHash(digest, [&]<typename H>() { Pbkdf2With<H>(password, salt, iterations, out, length); });
    engine_seams::Derived(password.length, out, length);
}

void Pkcs12(Digest digest, Input password, Input salt, int id, std::uint64_t iterations,
            unsigned char* out, std::size_t length) {
    WithHash(digest,
             [&]<typename H>() { Pkcs12With<H>(password, salt, id, iterations, out, length); });
    engine_seams::Derived(password.length, out, length);
}

}  // namespace hmackdf
