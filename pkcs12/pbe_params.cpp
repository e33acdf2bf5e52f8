#include "pkcs12/pbe_params.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <openssl/rand.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "pkcs12/der_compare.h"
#include "pkcs12/limits.h"
#include "pkcs12/seams.h"

namespace pbe {
namespace {

template <typename T, auto Free>
std::unique_ptr<T, ossl::Deleter<Free>> Unpack(const ASN1_ITEM* item, const ASN1_TYPE* parameter) {
    return std::unique_ptr<T, ossl::Deleter<Free>>(
        static_cast<T*>(ASN1_TYPE_unpack_sequence(item, parameter)));
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
bool IsPkcs12Scheme(int algorithmNid) {
    switch (algorithmNid) {
        case NID_pbe_WithSHA1And128BitRC4:
        case NID_pbe_WithSHA1And40BitRC4:
        case NID_pbe_WithSHA1And3_Key_TripleDES_CBC:
        case NID_pbe_WithSHA1And2_Key_TripleDES_CBC:
        case NID_pbe_WithSHA1And128BitRC2_CBC:
        case NID_pbe_WithSHA1And40BitRC2_CBC:
            return true;
        default:
            return false;
    }
}

long PbeParamBlocks(int algorithmNid) {
    if (!IsPkcs12Scheme(algorithmNid)) {
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

std::optional<Params> ReadPbes2(const X509_ALGOR* algorithm, Params params, bool& unsupported) {
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
            unsupported = true;
            return std::nullopt;
    }
}

// Random bytes for a salt or IV, unless a test chose them.
bool FreshBytes(unsigned char* out, int length) {
    const unsigned char* const fixed = engine_seams::ChosenSaltOrIv(length);
    if (fixed != nullptr) {
        std::copy(fixed, fixed + length, out);
        return true;
    }
    return RAND_bytes(out, length) == 1;
}

// What the tool writes for a key that had no protection.
ossl::AlgorPtr CreateDefault(const Params& params) {
    const auto cipher = FetchCipher(params.cipherNid);
    const int saltLength = SaltLengthFor(params.saltLength);
    const unsigned char* const salt = engine_seams::ChosenSaltOrIv(saltLength);
    // Casts for OpenSSL 3.0, which takes salt and IV as non-const; it only copies them.
    return cipher ? ossl::AlgorPtr(PKCS5_pbe2_set_iv_ex(
                        cipher.get(), static_cast<int>(params.iterations),
                        const_cast<unsigned char*>(salt), saltLength,
                        const_cast<unsigned char*>(engine_seams::ChosenSaltOrIv(EVP_MAX_IV_LENGTH)),
                        params.prfNid, nullptr))
                  : nullptr;
}

template <typename T>
bool Pack(const ASN1_ITEM* item, const T& value, ASN1_TYPE** parameter) {
    return value && ASN1_TYPE_pack_sequence(item, value.get(), parameter) != nullptr;
}

bool RefreshPbkdf2Salt(X509_ALGOR* keyFunction) {
    const auto kdf =
        Unpack<PBKDF2PARAM, PBKDF2PARAM_free>(ASN1_ITEM_rptr(PBKDF2PARAM), keyFunction->parameter);
    return kdf && kdf->salt != nullptr && kdf->salt->type == V_ASN1_OCTET_STRING &&
           RefreshSalt(kdf->salt->value.octet_string) &&
           Pack(ASN1_ITEM_rptr(PBKDF2PARAM), kdf, &keyFunction->parameter);
}

bool RefreshScryptSalt(X509_ALGOR* keyFunction) {
    const auto kdf = Unpack<SCRYPT_PARAMS, SCRYPT_PARAMS_free>(ASN1_ITEM_rptr(SCRYPT_PARAMS),
                                                               keyFunction->parameter);
    return kdf && kdf->salt != nullptr && RefreshSalt(kdf->salt) &&
           Pack(ASN1_ITEM_rptr(SCRYPT_PARAMS), kdf, &keyFunction->parameter);
}

using CipherContextPtr = std::unique_ptr<EVP_CIPHER_CTX, ossl::Deleter<EVP_CIPHER_CTX_free>>;
using TypePtr = std::unique_ptr<ASN1_TYPE, ossl::Deleter<ASN1_TYPE_free>>;

// The cipher's parameters with a fresh IV. OpenSSL reads them into a cipher context (for RC2
// also the effective key bits) and writes them back from it; a cipher without an IV keeps
// its parameters as they are.
bool RefreshIv(X509_ALGOR* scheme) {
    const auto cipher = FetchCipher(OBJ_obj2nid(scheme->algorithm));
    const CipherContextPtr context(EVP_CIPHER_CTX_new());
    if (!cipher || !context) {
        return false;
    }
    const int ivLength = EVP_CIPHER_get_iv_length(cipher.get());
    if (ivLength <= 0 || scheme->parameter == nullptr || scheme->parameter->type == V_ASN1_NULL) {
        return true;
    }
    unsigned char iv[EVP_MAX_IV_LENGTH];
    TypePtr fresh(ASN1_TYPE_new());
    if (ivLength > EVP_MAX_IV_LENGTH || !fresh ||
        EVP_CipherInit_ex2(context.get(), cipher.get(), nullptr, nullptr, 1, nullptr) != 1 ||
        EVP_CIPHER_asn1_to_param(context.get(), scheme->parameter) <= 0 ||
        !FreshBytes(iv, ivLength) ||
        EVP_CipherInit_ex2(context.get(), nullptr, nullptr, iv, 1, nullptr) != 1 ||
        EVP_CIPHER_param_to_asn1(context.get(), fresh.get()) <= 0) {
        return false;
    }
    ASN1_TYPE_free(scheme->parameter);
    scheme->parameter = fresh.release();
    return true;
}

bool RefreshSaltAndIv(X509_ALGOR* algorithm) {
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        const auto pbe =
            Unpack<PBEPARAM, PBEPARAM_free>(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter);
        return pbe && pbe->salt != nullptr && RefreshSalt(pbe->salt) &&
               Pack(ASN1_ITEM_rptr(PBEPARAM), pbe, &algorithm->parameter);
    }
    const auto pbe2 =
        Unpack<PBE2PARAM, PBE2PARAM_free>(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter);
    if (!pbe2 || pbe2->keyfunc == nullptr || pbe2->encryption == nullptr) {
        return false;
    }
    const bool salted = OBJ_obj2nid(pbe2->keyfunc->algorithm) == NID_id_pbkdf2
                            ? RefreshPbkdf2Salt(pbe2->keyfunc)
                            : RefreshScryptSalt(pbe2->keyfunc);
    return salted && RefreshIv(pbe2->encryption) &&
           Pack(ASN1_ITEM_rptr(PBE2PARAM), pbe2, &algorithm->parameter);
}

// The file's identifier with fresh salt and IV, or null where anything else would change.
ossl::AlgorPtr Refreshed(const std::vector<unsigned char>& identifier) {
    const unsigned char* cursor = identifier.data();
    ossl::AlgorPtr algorithm(
        d2i_X509_ALGOR(nullptr, &cursor, static_cast<long>(identifier.size())));
    if (!algorithm || !RefreshSaltAndIv(algorithm.get())) {
        return nullptr;
    }
    const std::vector<unsigned char> fresh = EncodeIdentifier(algorithm.get());
    return der::SameExceptOctets(identifier, fresh) ? std::move(algorithm) : nullptr;
}

Encrypted EncryptWith(ossl::AlgorPtr algorithm, const unsigned char* bytes, long length,
                      const ossl::Secret& password) {
    unsigned char* out = nullptr;
    int outLength = 0;
    if (!algorithm || length <= 0 || length > std::numeric_limits<int>::max() ||
        PKCS12_pbe_crypt_ex(algorithm.get(), password.data(), static_cast<int>(password.size()),
                            bytes, static_cast<int>(length), &out, &outLength, 1, nullptr,
                            nullptr) == nullptr) {
        return {};
    }
    ossl::OctetStringPtr data(ASN1_OCTET_STRING_new());
    if (!data) {
        OPENSSL_free(out);
        return {};
    }
    ASN1_STRING_set0(data.get(), out, outLength);
    return {std::move(algorithm), std::move(data)};
}

}  // namespace

long PositiveCount(const ASN1_INTEGER* value) noexcept {
    std::int64_t number = 0;
    if (value == nullptr || ASN1_INTEGER_get_int64(&number, value) != 1 || number < 1 ||
        number > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<long>(number);
}

int DigestSize(int nid) noexcept {
    const ossl::DigestPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(nid), nullptr));
    return digest ? EVP_MD_get_size(digest.get()) : 0;
}

std::vector<unsigned char> EncodeIdentifier(const X509_ALGOR* algorithm) {
    const int length = i2d_X509_ALGOR(algorithm, nullptr);
    std::vector<unsigned char> der(length > 0 ? static_cast<size_t>(length) : 0);
    unsigned char* cursor = der.data();
    if (der.empty() || i2d_X509_ALGOR(algorithm, &cursor) != length) {
        der.clear();
    }
    return der;
}

int SaltLengthFor(int length) noexcept {
    return length > 0 ? length : 8;
}

bool RefreshSalt(ASN1_OCTET_STRING* salt) {
    const std::vector<unsigned char> bytes = NewSalt(ASN1_STRING_length(salt));
    return !bytes.empty() &&
           ASN1_OCTET_STRING_set(salt, bytes.data(), static_cast<int>(bytes.size())) == 1;
}

std::vector<unsigned char> NewSalt(int length) {
    std::vector<unsigned char> bytes(static_cast<size_t>(SaltLengthFor(length)));
    if (!FreshBytes(bytes.data(), static_cast<int>(bytes.size()))) {
        bytes.clear();
    }
    return bytes;
}

namespace {

// Read, which says in `broken` why it found nothing: parameters damaged (missing, no salt, a
// count below 1 or beyond an int) rather than an algorithm the tool does not have.
std::optional<Params> ReadIdentifier(const X509_ALGOR* algorithm, bool& broken) {
    broken = algorithm == nullptr;
    if (algorithm == nullptr) {
        return std::nullopt;
    }
    Params params;
    params.algorithmNid = OBJ_obj2nid(algorithm->algorithm);
    std::optional<Params> result;
    bool unsupported = false;
    if (params.algorithmNid == NID_pbes2) {
        result = ReadPbes2(algorithm, params, unsupported);
        broken = !result && !unsupported;
    } else if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, params.algorithmNid, nullptr, nullptr, nullptr) ==
               1) {
        broken = true;
        const auto pbe =
            Unpack<PBEPARAM, PBEPARAM_free>(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter);
        if (pbe && pbe->salt != nullptr) {
            params.iterations = PositiveCount(pbe->iter);
            params.saltLength = ASN1_STRING_length(pbe->salt);
            result = params;
            broken = false;
        }
    }
    // A count the file cannot state sensibly opens with no password.
    if (!result || result->iterations < 1) {
        broken = broken || result.has_value();
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
    if (result->blocks < 1) {
        return std::nullopt;
    }
    result->identifier = EncodeIdentifier(algorithm);
    return result->identifier.empty() ? std::nullopt : result;
}

}  // namespace

std::optional<Params> Read(const X509_ALGOR* algorithm) {
    bool broken = false;
    return ReadIdentifier(algorithm, broken);
}

bool Broken(const X509_ALGOR* algorithm) {
    bool broken = false;
    return !ReadIdentifier(algorithm, broken) && broken;
}

Encrypted EncryptBytes(const Params& params, const unsigned char* bytes, long length,
                       const ossl::Secret& password) {
    return EncryptWith(
        params.identifier.empty() ? CreateDefault(params) : Refreshed(params.identifier), bytes,
        length, password);
}

Encrypted Encrypt(const Params& params, const ASN1_ITEM* item, const void* value,
                  const ossl::Secret& password) {
    const SecretBytes plaintext = ossl::Der(value, item);
    return !plaintext.empty() ? EncryptBytes(params, plaintext.data(),
                                             static_cast<long>(plaintext.size()), password)
                              : Encrypted{};
}

bool Decrypt(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data,
             const ossl::Secret& password, Plaintext& out) {
    const CipherContextPtr context(EVP_CIPHER_CTX_new());
    if (algorithm == nullptr || data == nullptr || !context ||
        EVP_PBE_CipherInit_ex(algorithm->algorithm, password.data(),
                              static_cast<int>(password.size()), algorithm->parameter,
                              context.get(), 0, nullptr, nullptr) != 1) {
        return false;
    }
    const int length = ASN1_STRING_length(data);
    const int block = EVP_CIPHER_CTX_get_block_size(context.get());
    if (length < 0 || block <= 0 || length > std::numeric_limits<int>::max() - block) {
        return false;
    }
    // Straight into the secret type's block, so that the plaintext is never in ordinary memory.
    Plaintext plain = Plaintext::Zeroed(static_cast<std::size_t>(length + block));
    int written = 0;
    int last = 0;
    if (EVP_CipherUpdate(context.get(), plain.data(), &written, ASN1_STRING_get0_data(data),
                         length) != 1 ||
        EVP_CipherFinal_ex(context.get(), plain.data() + written, &last) != 1) {
        return false;
    }
    plain.Truncate(static_cast<std::size_t>(written + last));
    out = std::move(plain);
    return true;
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

}  // namespace pbe
