#include "platform/pbe_params.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstdint>
#include <limits>

#include "platform/crypt32.h"

namespace pbe {
namespace {

template <typename T, auto Free>
std::unique_ptr<T, ossl::Deleter<Free>> Unpack(const ASN1_ITEM* item, const ASN1_TYPE* parameter) {
    return std::unique_ptr<T, ossl::Deleter<Free>>(
        static_cast<T*>(ASN1_TYPE_unpack_sequence(item, parameter)));
}

// A positive count that fits a long, or 0 for anything else (absent, negative, too large).
long PositiveCount(const ASN1_INTEGER* value) {
    std::int64_t number = 0;
    if (value == nullptr || ASN1_INTEGER_get_int64(&number, value) != 1 || number < 1 ||
        number > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<long>(number);
}

std::optional<Params> ReadPbkdf2(const X509_ALGOR* keyFunction, Params params) {
    const auto kdf =
        Unpack<PBKDF2PARAM, PBKDF2PARAM_free>(ASN1_ITEM_rptr(PBKDF2PARAM), keyFunction->parameter);
    if (!kdf || kdf->salt == nullptr || kdf->salt->type != V_ASN1_OCTET_STRING) {
        return std::nullopt;
    }
    params.scheme = Scheme::Pbkdf2;
    params.iterations = PositiveCount(kdf->iter);
    params.saltLength = ASN1_STRING_length(kdf->salt->value.octet_string);
    params.prfNid = kdf->prf == nullptr ? NID_hmacWithSHA1 : OBJ_obj2nid(kdf->prf->algorithm);
    params.keyLength =
        kdf->keylength == nullptr ? 0 : static_cast<int>(PositiveCount(kdf->keylength));
    return params;
}

// a * b, or the largest long where that does not fit.
long SaturatingProduct(std::uint64_t a, std::uint64_t b) {
    constexpr auto kMost = static_cast<std::uint64_t>(std::numeric_limits<long>::max());
    return b != 0 && a > kMost / b ? std::numeric_limits<long>::max() : static_cast<long>(a * b);
}

std::optional<Params> ReadScrypt(const X509_ALGOR* keyFunction, Params params) {
    const auto kdf = Unpack<SCRYPT_PARAMS, SCRYPT_PARAMS_free>(ASN1_ITEM_rptr(SCRYPT_PARAMS),
                                                               keyFunction->parameter);
    if (!kdf || kdf->salt == nullptr) {
        return std::nullopt;
    }
    params.scheme = Scheme::Scrypt;
    params.saltLength = ASN1_STRING_length(kdf->salt);
    std::uint64_t n = 0, r = 0, p = 0;
    if (ASN1_INTEGER_get_uint64(&n, kdf->costParameter) != 1 ||
        ASN1_INTEGER_get_uint64(&r, kdf->blockSize) != 1 ||
        ASN1_INTEGER_get_uint64(&p, kdf->parallelizationParameter) != 1 || n == 0 || r == 0 ||
        p == 0) {
        return std::nullopt;
    }
    // Sizes beyond the memory limit are kept as they are, for the budget to refuse them.
    params.scryptN = n, params.scryptR = r, params.scryptP = p;
    params.iterations = SaturatingProduct(static_cast<std::uint64_t>(SaturatingProduct(n, r)), p);
    return params;
}

ossl::CipherPtr FetchCipher(int nid) {
    return ossl::CipherPtr(EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(nid), nullptr));
}

// The output size of a digest, 0 when it is not available.
int DigestSize(int nid) {
    const ossl::DigestPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(nid), nullptr));
    return digest ? EVP_MD_get_size(digest.get()) : 0;
}

// How many hash-sized blocks make `length` bytes; 0 when either is unknown.
long BlocksFor(int length, int hashSize) {
    return length > 0 && hashSize > 0 ? (static_cast<long>(length) + hashSize - 1) / hashSize : 0;
}

// PBKDF2 makes the cipher's key (or the length the file states) in blocks of the PRF's size.
long Pbkdf2Blocks(const Params& params) {
    int digestNid = 0;
    if (EVP_PBE_find(EVP_PBE_TYPE_PRF, params.prfNid, nullptr, &digestNid, nullptr) != 1) {
        return 0;
    }
    const auto cipher = FetchCipher(params.cipherNid);
    const int keyLength = params.keyLength > 0 ? params.keyLength
                          : cipher             ? EVP_CIPHER_get_key_length(cipher.get())
                                               : 0;
    return BlocksFor(keyLength, DigestSize(digestNid));
}

// The PKCS#12 schemes derive key and IV separately, each in blocks of the digest's size;
// the PKCS#5 v1 ones (PBKDF1) make a single hash.
long PbeParamBlocks(int algorithmNid) {
    switch (algorithmNid) {
        case NID_pbe_WithSHA1And128BitRC4:
        case NID_pbe_WithSHA1And40BitRC4:
        case NID_pbe_WithSHA1And3_Key_TripleDES_CBC:
        case NID_pbe_WithSHA1And2_Key_TripleDES_CBC:
        case NID_pbe_WithSHA1And128BitRC2_CBC:
        case NID_pbe_WithSHA1And40BitRC2_CBC:
            break;
        default:
            return 1;
    }
    int cipherNid = 0, digestNid = 0;
    EVP_PBE_find(EVP_PBE_TYPE_OUTER, algorithmNid, &cipherNid, &digestNid, nullptr);
    const auto cipher = FetchCipher(cipherNid);
    const int hashSize = DigestSize(digestNid);
    if (!cipher) {
        return 0;
    }
    const long key = BlocksFor(EVP_CIPHER_get_key_length(cipher.get()), hashSize);
    const int ivLength = EVP_CIPHER_get_iv_length(cipher.get());
    return ivLength > 0 ? key + BlocksFor(ivLength, hashSize) : key;
}

std::optional<Params> ReadPbes2(const X509_ALGOR* algorithm, Params params) {
    const auto pbe2 =
        Unpack<PBE2PARAM, PBE2PARAM_free>(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter);
    if (!pbe2 || pbe2->keyfunc == nullptr || pbe2->encryption == nullptr) {
        return std::nullopt;
    }
    params.cipherNid = OBJ_obj2nid(pbe2->encryption->algorithm);
    switch (OBJ_obj2nid(pbe2->keyfunc->algorithm)) {
        case NID_id_pbkdf2:
            return ReadPbkdf2(pbe2->keyfunc, params);
        case NID_id_scrypt:
            return ReadScrypt(pbe2->keyfunc, params);
        default:
            return std::nullopt;
    }
}

// OpenSSL states the key length only where the cipher's is variable; files that state it
// anyway keep it, so that they read as before.
ossl::AlgorPtr StateKeyLength(ossl::AlgorPtr algorithm, const Params& params) {
    const auto pbe2 =
        Unpack<PBE2PARAM, PBE2PARAM_free>(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter);
    X509_ALGOR* keyFunction =
        PKCS5_pbkdf2_set_ex(static_cast<int>(params.iterations), nullptr, params.saltLength,
                            params.prfNid, params.keyLength, nullptr);
    if (!pbe2 || keyFunction == nullptr) {
        X509_ALGOR_free(keyFunction);
        return nullptr;
    }
    X509_ALGOR_free(pbe2->keyfunc);
    pbe2->keyfunc = keyFunction;
    if (ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBE2PARAM), pbe2.get(), &algorithm->parameter) ==
        nullptr) {
        return nullptr;
    }
    return algorithm;
}

ossl::AlgorPtr CreateLike(const Params& params) {
    if (params.scheme == Scheme::PbeParam) {
        return ossl::AlgorPtr(PKCS5_pbe_set_ex(params.algorithmNid,
                                               static_cast<int>(params.iterations), nullptr,
                                               params.saltLength, nullptr));
    }
    const auto cipher = FetchCipher(params.cipherNid);
    if (!cipher) {
        return nullptr;
    }
    if (params.scheme == Scheme::Scrypt) {
        return ossl::AlgorPtr(PKCS5_pbe2_set_scrypt(cipher.get(), nullptr, params.saltLength,
                                                    nullptr, params.scryptN, params.scryptR,
                                                    params.scryptP));
    }
    ossl::AlgorPtr algorithm(PKCS5_pbe2_set_iv_ex(cipher.get(), static_cast<int>(params.iterations),
                                                  nullptr, params.saltLength, nullptr,
                                                  params.prfNid, nullptr));
    return algorithm && params.keyLength > 0 ? StateKeyLength(std::move(algorithm), params)
                                             : std::move(algorithm);
}

ossl::AlgorPtr CreateFallback(const Params& params) {
    const auto cipher = FetchCipher(NID_aes_256_cbc);
    const long iterations = params.scheme == Scheme::Scrypt ? 2048 : params.iterations;
    return cipher ? ossl::AlgorPtr(PKCS5_pbe2_set_iv_ex(cipher.get(), static_cast<int>(iterations),
                                                        nullptr, params.saltLength, nullptr,
                                                        NID_hmacWithSHA256, nullptr))
                  : nullptr;
}

Encrypted EncryptWith(ossl::AlgorPtr algorithm, const ASN1_ITEM* item, void* value,
                      const ossl::Secret& password) {
    if (!algorithm) {
        return {};
    }
    // zbuf 1: the plaintext encoding is wiped before it is released.
    ossl::OctetStringPtr data(PKCS12_item_i2d_encrypt_ex(
        algorithm.get(), item, password.data(), password.size(), value, 1, nullptr, nullptr));
    if (!data) {
        return {};
    }
    return {std::move(algorithm), std::move(data)};
}

// OpenSSL's scrypt allocates 128 * r * (N + 2) + 128 * r * p bytes and refuses beyond its
// limit, which no password then passes.
bool ScryptFitsMemory(std::uint64_t n, std::uint64_t r, std::uint64_t p) {
    constexpr std::uint64_t kBlockBytes = 128;
    if (r > kMaxScryptMemory / kBlockBytes) {
        return false;
    }
    const std::uint64_t units = kMaxScryptMemory / (kBlockBytes * r);
    return n <= units && p <= units && n + 2 + p <= units;
}

}  // namespace

std::optional<Params> Read(const X509_ALGOR* algorithm) noexcept {
    if (algorithm == nullptr) {
        return std::nullopt;
    }
    Params params;
    params.algorithmNid = OBJ_obj2nid(algorithm->algorithm);
    std::optional<Params> result;
    if (params.algorithmNid == NID_pbes2) {
        result = ReadPbes2(algorithm, params);
    } else if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, params.algorithmNid, nullptr, nullptr, nullptr) ==
               1) {
        const auto pbe =
            Unpack<PBEPARAM, PBEPARAM_free>(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter);
        if (pbe && pbe->salt != nullptr) {
            params.iterations = PositiveCount(pbe->iter);
            params.saltLength = ASN1_STRING_length(pbe->salt);
            result = params;
        }
    }
    // A count the file cannot state sensibly is not one this tool could write back.
    if (!result || result->iterations < 1) {
        return std::nullopt;
    }
    switch (result->scheme) {
        case Scheme::PbeParam:
            result->blocks = PbeParamBlocks(result->algorithmNid);
            break;
        case Scheme::Pbkdf2:
            result->blocks = Pbkdf2Blocks(*result);
            break;
        case Scheme::Scrypt:  // its work is N * r * p already
            break;
    }
    // Without the blocks the work is unknown, and so is the algorithm.
    return result->blocks > 0 ? result : std::nullopt;
}

Encrypted Encrypt(const Params& params, const ASN1_ITEM* item, void* value,
                  const ossl::Secret& password) noexcept {
    Encrypted encrypted = EncryptWith(CreateLike(params), item, value, password);
    if (!encrypted.data) {
        encrypted = EncryptWith(CreateFallback(params), item, value, password);
    }
    return encrypted;
}

Params DefaultKeyProtection(long iterations) noexcept {
    Params params;
    params.scheme = Scheme::Pbkdf2;
    params.algorithmNid = NID_pbes2;
    params.cipherNid = NID_aes_256_cbc;
    params.prfNid = NID_hmacWithSHA256;
    params.iterations = iterations;
    params.blocks = 1;  // a 32-byte key from SHA-256
    params.saltLength = 8;
    return params;
}

DWORD WorkBudget::Charge(const Params& derivation) noexcept {
    if (derivation.scheme == Scheme::Scrypt &&
        !ScryptFitsMemory(derivation.scryptN, derivation.scryptR, derivation.scryptP)) {
        return PINTOOL_E_SCRYPT_MEMORY;
    }
    return Spend(derivation.iterations, derivation.blocks);
}

DWORD WorkBudget::ChargeMac(long iterations) noexcept {
    return iterations < 1 ? NTE_BAD_DATA : Spend(iterations, 1);
}

DWORD WorkBudget::Spend(long iterations, long blocks) noexcept {
    if (iterations > kMaxIterationsPerDerivation) {
        return PINTOOL_E_TOO_MUCH_WORK;
    }
    // Both at most a few million here, so the product fits.
    if (blocks > kMaxWorkPerPass ||
        static_cast<std::int64_t>(iterations) * blocks > kMaxWorkPerPass - m_spent) {
        return PINTOOL_E_TOO_MUCH_WORK;
    }
    m_spent += static_cast<std::int64_t>(iterations) * blocks;
    return ERROR_SUCCESS;
}

}  // namespace pbe
