#include "pkcs12/pbmac1.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>

#include "pkcs12/der_compare.h"
#include "pkcs12/pbe_params.h"

namespace pbmac1 {
namespace {

void FreeSequence(ASN1_SEQUENCE_ANY* items) noexcept {
    sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
}
using SequencePtr = std::unique_ptr<ASN1_SEQUENCE_ANY, ossl::Deleter<FreeSequence>>;
using Pbkdf2Ptr = std::unique_ptr<PBKDF2PARAM, ossl::Deleter<PBKDF2PARAM_free>>;

// The elements of a SEQUENCE that must fill all of `length` bytes.
SequencePtr DecodeSequence(const unsigned char* der, long length) {
    const unsigned char* cursor = der;
    SequencePtr items(d2i_ASN1_SEQUENCE_ANY(nullptr, &cursor, length));
    return items && cursor == der + length ? std::move(items) : nullptr;
}

ossl::AlgorPtr DecodeAlgorithm(const ASN1_TYPE* item) {
    if (item == nullptr || item->type != V_ASN1_SEQUENCE) {
        return nullptr;
    }
    const unsigned char* const der = ASN1_STRING_get0_data(item->value.sequence);
    const long length = ASN1_STRING_length(item->value.sequence);
    const unsigned char* cursor = der;
    ossl::AlgorPtr algorithm(d2i_X509_ALGOR(nullptr, &cursor, length));
    return algorithm && cursor == der + length ? std::move(algorithm) : nullptr;
}

// PBMAC1-params: the key derivation and the MAC scheme.
struct Schemes {
    ossl::AlgorPtr keyDerivation;
    ossl::AlgorPtr authentication;
};

std::optional<Schemes> Split(const X509_ALGOR* algorithm) {
    const ASN1_TYPE* parameter = algorithm->parameter;
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbmac1 || parameter == nullptr ||
        parameter->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    const SequencePtr items = DecodeSequence(ASN1_STRING_get0_data(parameter->value.sequence),
                                             ASN1_STRING_length(parameter->value.sequence));
    if (!items || sk_ASN1_TYPE_num(items.get()) != 2) {
        return std::nullopt;
    }
    Schemes schemes{DecodeAlgorithm(sk_ASN1_TYPE_value(items.get(), 0)),
                    DecodeAlgorithm(sk_ASN1_TYPE_value(items.get(), 1))};
    if (!schemes.keyDerivation || !schemes.authentication) {
        return std::nullopt;
    }
    return schemes;
}

// Sets `algorithm` to PBMAC1 with these schemes.
bool Join(const Schemes& schemes, X509_ALGOR* algorithm) {
    const std::vector<unsigned char> first = pbe::EncodeIdentifier(schemes.keyDerivation.get());
    const std::vector<unsigned char> second = pbe::EncodeIdentifier(schemes.authentication.get());
    if (first.empty() || second.empty()) {
        return false;
    }
    const auto length = static_cast<int>(first.size() + second.size());
    std::vector<unsigned char> der(
        static_cast<size_t>(ASN1_object_size(1, length, V_ASN1_SEQUENCE)));
    unsigned char* cursor = der.data();
    ASN1_put_object(&cursor, 1, length, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::copy(second.begin(), second.end(), std::copy(first.begin(), first.end(), cursor));
    ASN1_STRING* sequence = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    if (sequence == nullptr ||
        ASN1_STRING_set(sequence, der.data(), static_cast<int>(der.size())) != 1 ||
        X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_pbmac1), V_ASN1_SEQUENCE, sequence) != 1) {
        ASN1_STRING_free(sequence);
        return false;
    }
    return true;
}

Pbkdf2Ptr Pbkdf2Of(const Schemes& schemes) {
    if (OBJ_obj2nid(schemes.keyDerivation->algorithm) != NID_id_pbkdf2) {
        return nullptr;
    }
    Pbkdf2Ptr kdf(static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), schemes.keyDerivation->parameter)));
    return kdf && kdf->salt != nullptr && kdf->salt->type == V_ASN1_OCTET_STRING ? std::move(kdf)
                                                                                 : nullptr;
}

// The digest of an HMAC algorithm (hmacWithSHA256 and the like), 0 when unknown.
int DigestOfHmac(int hmacNid) {
    int digestNid = 0;
    return EVP_PBE_find(EVP_PBE_TYPE_PRF, hmacNid, nullptr, &digestNid, nullptr) == 1 ? digestNid
                                                                                      : 0;
}

bool SameOctets(const ASN1_OCTET_STRING* first, const ASN1_OCTET_STRING* second) {
    const int length = ASN1_STRING_length(first);
    return length == ASN1_STRING_length(second) &&
           std::equal(ASN1_STRING_get0_data(first), ASN1_STRING_get0_data(first) + length,
                      ASN1_STRING_get0_data(second));
}

struct MacData {
    const ASN1_OCTET_STRING* value = nullptr;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    long iterations = 1;
    bool statesIterations = false;
};

std::optional<MacData> MacDataOf(const PKCS12* p12) {
    if (PKCS12_mac_present(p12) != 1) {
        return std::nullopt;
    }
    MacData mac;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(&mac.value, &mac.algorithm, &mac.salt, &iterations, p12);
    mac.iterations = iterations == nullptr ? 1 : pbe::PositiveCount(iterations);
    mac.statesIterations = iterations != nullptr;
    if (mac.value == nullptr || mac.algorithm == nullptr || mac.salt == nullptr) {
        return std::nullopt;
    }
    return mac;
}

// The octets of the file's authenticated safe, over which the MAC runs. OpenSSL 3.0 has no
// accessor for them, so they are taken from the file's encoding.
using Pkcs7Ptr = ossl::Pkcs7Ptr;
Pkcs7Ptr AuthenticatedSafe(const PKCS12* p12) {
    const SecretBytes der = ossl::Der(p12, ASN1_ITEM_rptr(PKCS12));
    const SequencePtr items =
        !der.empty() ? DecodeSequence(der.data(), static_cast<long>(der.size())) : nullptr;
    const ASN1_TYPE* info =
        items && sk_ASN1_TYPE_num(items.get()) >= 2 ? sk_ASN1_TYPE_value(items.get(), 1) : nullptr;
    if (info == nullptr || info->type != V_ASN1_SEQUENCE) {
        return nullptr;
    }
    const unsigned char* cursor = ASN1_STRING_get0_data(info->value.sequence);
    Pkcs7Ptr safe(d2i_PKCS7(nullptr, &cursor, ASN1_STRING_length(info->value.sequence)));
    return safe && PKCS7_type_is_data(safe.get()) && safe->d.data != nullptr ? std::move(safe)
                                                                             : nullptr;
}

// The PBKDF2 parameters of a PBMAC1 identifier.
Pbkdf2Ptr KdfOf(const X509_ALGOR* algorithm) {
    const auto schemes = Split(algorithm);
    return schemes ? Pbkdf2Of(*schemes) : nullptr;
}

// The HMAC of the authenticated safe, keyed by PBKDF2 of the password with `salt`.
bool Compute(const PKCS12* p12, const Params& params, const ASN1_OCTET_STRING* salt,
             const ossl::Secret& password, unsigned char (&out)[EVP_MAX_MD_SIZE],
             size_t& outLength) {
    const Pkcs7Ptr safe = AuthenticatedSafe(p12);
    const ossl::DigestPtr prf(EVP_MD_fetch(nullptr, OBJ_nid2sn(params.prfDigestNid), nullptr));
    ossl::Secret key = ossl::Secret::Zeroed(static_cast<size_t>(params.keyLength));
    return safe && prf &&
           PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             ASN1_STRING_get0_data(salt), ASN1_STRING_length(salt),
                             static_cast<int>(params.iterations), prf.get(), params.keyLength,
                             reinterpret_cast<unsigned char*>(key.data())) == 1 &&
           EVP_Q_mac(nullptr, "HMAC", nullptr, OBJ_nid2sn(params.hmacDigestNid), nullptr,
                     key.data(), key.size(), ASN1_STRING_get0_data(safe->d.data),
                     static_cast<size_t>(ASN1_STRING_length(safe->d.data)), out, sizeof out,
                     &outLength) != nullptr;
}

// The MAC data's salt and iteration count: PBKDF2's new ones, or its own as the file had them.
bool SetMacData(PKCS12* p12, const Params& params, const ASN1_OCTET_STRING* kdfSalt) {
    if (params.macDataRepeatsKdf) {
        return PKCS12_setup_mac(p12, static_cast<int>(params.iterations),
                                const_cast<unsigned char*>(ASN1_STRING_get0_data(kdfSalt)),
                                ASN1_STRING_length(kdfSalt), EVP_sha256()) == 1;
    }
    // OpenSSL leaves a count of 1 out, and makes an empty salt 8 random bytes; a file that
    // wrote the count, or had no salt, keeps it so. The MAC data is ours to change.
    const bool stateOne = params.macDataIterations == 1 && params.macDataStatesIterations;
    std::vector<unsigned char> salt = params.macDataSalt;
    if (PKCS12_setup_mac(p12, stateOne ? 2 : static_cast<int>(params.macDataIterations),
                         salt.empty() ? nullptr : salt.data(), static_cast<int>(salt.size()),
                         EVP_sha256()) != 1) {
        return false;
    }
    const ASN1_OCTET_STRING* written = nullptr;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, &written, &iterations, p12);
    return written != nullptr &&
           (iterations != nullptr) == (stateOne || params.macDataIterations > 1) &&
           (!salt.empty() ||
            ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(written), nullptr, 0) == 1) &&
           (!stateOne || ASN1_INTEGER_set(const_cast<ASN1_INTEGER*>(iterations), 1) == 1);
}

}  // namespace

bool Uses(const PKCS12* p12) noexcept {
    const auto mac = MacDataOf(p12);
    return mac && OBJ_obj2nid(mac->algorithm->algorithm) == NID_pbmac1;
}

std::optional<Params> Read(const PKCS12* p12) {
    const auto mac = MacDataOf(p12);
    const auto schemes = mac ? Split(mac->algorithm) : std::nullopt;
    const Pbkdf2Ptr kdf = schemes ? Pbkdf2Of(*schemes) : nullptr;
    if (!kdf || kdf->keylength == nullptr) {
        return std::nullopt;
    }
    Params params;
    params.prfDigestNid =
        DigestOfHmac(kdf->prf == nullptr ? NID_hmacWithSHA1 : OBJ_obj2nid(kdf->prf->algorithm));
    params.hmacDigestNid = DigestOfHmac(OBJ_obj2nid(schemes->authentication->algorithm));
    params.iterations = pbe::PositiveCount(kdf->iter);
    params.saltLength = ASN1_STRING_length(kdf->salt->value.octet_string);
    params.keyLength = static_cast<int>(pbe::PositiveCount(kdf->keylength));
    const int prfSize = pbe::DigestSize(params.prfDigestNid);
    const int hmacSize = pbe::DigestSize(params.hmacDigestNid);
    // A key beyond the largest digest only costs derivations; no reader writes or takes one.
    if (prfSize < 1 || hmacSize < 1 || params.keyLength < hmacSize ||
        params.keyLength > EVP_MAX_MD_SIZE || params.iterations < 1 || mac->iterations < 1 ||
        ASN1_STRING_length(mac->value) != hmacSize) {
        return std::nullopt;
    }
    params.macDataRepeatsKdf = mac->iterations == params.iterations &&
                               SameOctets(mac->salt, kdf->salt->value.octet_string);
    params.macDataSalt.assign(ASN1_STRING_get0_data(mac->salt),
                              ASN1_STRING_get0_data(mac->salt) + ASN1_STRING_length(mac->salt));
    params.macDataIterations = mac->iterations;
    params.macDataStatesIterations = mac->statesIterations;
    params.blocks = (params.keyLength + prfSize - 1) / prfSize;
    params.identifier = pbe::EncodeIdentifier(mac->algorithm);
    return params.identifier.empty() ? std::nullopt : std::optional<Params>(std::move(params));
}

bool Verify(const PKCS12* p12, const Params& params, const ossl::Secret& password) {
    const auto mac = MacDataOf(p12);
    const Pbkdf2Ptr kdf = mac ? KdfOf(mac->algorithm) : nullptr;
    unsigned char computed[EVP_MAX_MD_SIZE];
    size_t length = 0;
    return kdf && Compute(p12, params, kdf->salt->value.octet_string, password, computed, length) &&
           length == static_cast<size_t>(ASN1_STRING_length(mac->value)) &&
           CRYPTO_memcmp(computed, ASN1_STRING_get0_data(mac->value), length) == 0;
}

bool Set(PKCS12* p12, const Params& params, const ossl::Secret& password) {
    const unsigned char* cursor = params.identifier.data();
    const ossl::AlgorPtr algorithm(
        d2i_X509_ALGOR(nullptr, &cursor, static_cast<long>(params.identifier.size())));
    const auto schemes = algorithm ? Split(algorithm.get()) : std::nullopt;
    const Pbkdf2Ptr kdf = schemes ? Pbkdf2Of(*schemes) : nullptr;
    if (!kdf || !pbe::RefreshSalt(kdf->salt->value.octet_string) ||
        ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), kdf.get(),
                                &schemes->keyDerivation->parameter) == nullptr ||
        !Join(*schemes, algorithm.get())) {
        return false;
    }
    const std::vector<unsigned char> fresh = pbe::EncodeIdentifier(algorithm.get());
    const ASN1_OCTET_STRING* const newSalt = kdf->salt->value.octet_string;
    if (!der::SameExceptOctets(params.identifier, fresh) || !SetMacData(p12, params, newSalt)) {
        return false;
    }
    const auto mac = MacDataOf(p12);
    unsigned char computed[EVP_MAX_MD_SIZE];
    size_t length = 0;
    // The MAC data belongs to `p12`, which is ours to change; OpenSSL 3.0 only hands it out
    // read-only.
    return mac && X509_ALGOR_copy(const_cast<X509_ALGOR*>(mac->algorithm), algorithm.get()) == 1 &&
           Compute(p12, params, newSalt, password, computed, length) &&
           ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(mac->value), computed,
                                 static_cast<int>(length)) == 1;
}

}  // namespace pbmac1
