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
        p == 0 || n > (1u << 24) || r > 1024 || p > 1024) {
        return std::nullopt;
    }
    params.scryptN = n, params.scryptR = r, params.scryptP = p;
    const std::uint64_t work = n * r * p;
    params.iterations = work > static_cast<std::uint64_t>(std::numeric_limits<int>::max())
                            ? 0
                            : static_cast<long>(work);
    return params;
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

ossl::CipherPtr FetchCipher(int nid) {
    return ossl::CipherPtr(EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(nid), nullptr));
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
    if (result && result->iterations < 1) {
        return std::nullopt;
    }
    return result;
}

Encrypted Encrypt(const Params& params, const ASN1_ITEM* item, void* value,
                  const ossl::Secret& password) noexcept {
    Encrypted encrypted = EncryptWith(CreateLike(params), item, value, password);
    if (!encrypted.data) {
        encrypted = EncryptWith(CreateFallback(params), item, value, password);
    }
    return encrypted;
}

bool IterationBudget::Spend(long iterations) noexcept {
    if (iterations < 1 || iterations > kMaxIterationsPerDerivation ||
        m_spent + iterations > kMaxIterationsPerFile) {
        return false;
    }
    m_spent += iterations;
    return true;
}

}  // namespace pbe
