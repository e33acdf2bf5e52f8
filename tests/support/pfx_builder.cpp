#include "tests/support/pfx_builder.h"

#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>

#include "tests/support/test_files.h"

namespace testing_support {
namespace {

template <auto Free>
struct Release {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Release<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Release<X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Release<X509_CRL_free>>;
using P12Ptr = std::unique_ptr<PKCS12, Release<PKCS12_free>>;

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("building a PKCS#12 file failed: ") + what);
    }
}

void LoadProviders() {
    Check(LoadLegacyProviders(), "providers");
}

KeyPtr LoadKey(const std::string& path) {
    const std::string pem = ReadAll(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    KeyPtr key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    Check(key != nullptr, path.c_str());
    return key;
}

CertPtr LoadCert(const std::string& path) {
    const std::string pem = ReadAll(path);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    CertPtr cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    Check(cert != nullptr, path.c_str());
    return cert;
}

CrlPtr MakeCrl(X509* issuer, EVP_PKEY* key) {
    CrlPtr crl(X509_CRL_new());
    ASN1_TIME* now = ASN1_TIME_set(nullptr, std::time(nullptr));
    Check(crl && now && X509_CRL_set_version(crl.get(), 1) == 1 &&
              X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer)) == 1 &&
              X509_CRL_set1_lastUpdate(crl.get(), now) == 1 &&
              X509_CRL_sign(crl.get(), key, EVP_sha256()) > 0,
          "CRL");
    ASN1_TIME_free(now);
    return crl;
}

void Name(PKCS12_SAFEBAG* bag, const char* friendlyName, unsigned char keyId) {
    Check(PKCS12_add_friendlyname_utf8(bag, friendlyName, -1) == 1 &&
              PKCS12_add_localkeyid(bag, &keyId, 1) == 1,
          "attributes");
}

std::string Encode(PKCS12* p12) {
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    Check(length > 0, "encoding");
    std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

P12Ptr Assemble(STACK_OF(PKCS7) * safes) {
    P12Ptr p12(PKCS12_add_safes(safes, 0));
    sk_PKCS7_pop_free(safes, PKCS7_free);
    Check(p12 != nullptr, "assembling");
    return p12;
}

void AddShroudedPbes2(STACK_OF(PKCS12_SAFEBAG) * *bags, EVP_PKEY* key, const std::string& pin) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    X509_ALGOR* algorithm = PKCS5_pbe2_set_iv_ex(EVP_aes_128_cbc(), 1000, nullptr, 16, nullptr,
                                                 NID_hmacWithSHA512, nullptr);
    X509_SIG* sealed = PKCS8_set0_pbe_ex(pin.data(), static_cast<int>(pin.size()), info, algorithm,
                                         nullptr, nullptr);
    PKCS8_PRIV_KEY_INFO_free(info);
    PKCS12_SAFEBAG* bag = PKCS12_SAFEBAG_create0_pkcs8(sealed);
    Check(bag != nullptr, "PBES2 key");
    Name(bag, "Zweiter Schlüssel", 2);
    sk_PKCS12_SAFEBAG_push(*bags, bag);
}

X509_ALGOR* Pbe(int iterations) {
    return PKCS5_pbe_set_ex(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, iterations, nullptr, 8,
                            nullptr);
}

ASN1_OCTET_STRING* RandomOctets() {
    unsigned char bytes[64];
    RAND_bytes(bytes, sizeof bytes);
    ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(octets, bytes, sizeof bytes);
    return octets;
}

CertPtr SelfSigned(EVP_PKEY* key, long serial) {
    CertPtr cert(X509_new());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string common = "Zertifikat " + std::to_string(serial);
    Check(X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(common.c_str()), -1,
                                         -1, 0) == 1 &&
              X509_set_issuer_name(cert.get(), name) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400) != nullptr &&
              X509_set_pubkey(cert.get(), key) == 1 && X509_sign(cert.get(), key, EVP_sha256()) > 0,
          "certificate");
    return cert;
}

// A file that asks for the derivations the algorithms given describe without them ever being
// run: a MAC (0: none), `parts` encrypted parts and, where `keyAlgorithm` is set, one shrouded
// key. Its encrypted data is random.
std::string BuildBomb(long macIterations, const std::function<X509_ALGOR*()>& partAlgorithm,
                      int parts, const std::function<X509_ALGOR*()>& keyAlgorithm) {
    LoadProviders();
    STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
    for (int i = 0; i < parts; ++i) {
        PKCS7* safe = PKCS7_new();
        PKCS7_set_type(safe, NID_pkcs7_encrypted);
        X509_ALGOR* algorithm = partAlgorithm();
        Check(algorithm != nullptr, "part algorithm");
        X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, algorithm);
        X509_ALGOR_free(algorithm);
        safe->d.encrypted->enc_data->enc_data = RandomOctets();
        sk_PKCS7_push(safes, safe);
    }
    if (keyAlgorithm) {
        X509_SIG* sealed = X509_SIG_new();
        X509_ALGOR* algorithm = nullptr;
        ASN1_OCTET_STRING* data = nullptr;
        X509_SIG_getm(sealed, &algorithm, &data);
        X509_ALGOR* wanted = keyAlgorithm();
        Check(wanted != nullptr, "key algorithm");
        X509_ALGOR_copy(algorithm, wanted);
        X509_ALGOR_free(wanted);
        ASN1_OCTET_STRING* random = RandomOctets();
        ASN1_STRING_copy(data, random);
        ASN1_OCTET_STRING_free(random);
        STACK_OF(PKCS12_SAFEBAG)* bags = sk_PKCS12_SAFEBAG_new_null();
        sk_PKCS12_SAFEBAG_push(bags, PKCS12_SAFEBAG_create0_pkcs8(sealed));
        sk_PKCS7_push(safes, PKCS12_pack_p7data(bags));
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    const P12Ptr p12 = Assemble(safes);
    if (macIterations > 0) {
        // Sets up the MAC's parameters without computing it.
        Check(PKCS12_setup_mac(p12.get(), static_cast<int>(macIterations), nullptr, 8,
                               EVP_sha256()) == 1,
              "MAC");
    }
    return Encode(p12.get());
}

// PBES2 with scrypt and AES-256-CBC. OpenSSL writes only parameters its scrypt accepts, so
// these are set afterwards.
X509_ALGOR* Scrypt(std::uint64_t n, std::uint64_t r, std::uint64_t p) {
    X509_ALGOR* algorithm =
        PKCS5_pbe2_set_scrypt(EVP_aes_256_cbc(), nullptr, 16, nullptr, 1024, 8, 1);
    Check(algorithm != nullptr, "scrypt");
    PBE2PARAM* pbe2 = static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter));
    SCRYPT_PARAMS* kdf = static_cast<SCRYPT_PARAMS*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(SCRYPT_PARAMS), pbe2->keyfunc->parameter));
    Check(kdf != nullptr && ASN1_INTEGER_set_uint64(kdf->costParameter, n) == 1 &&
              ASN1_INTEGER_set_uint64(kdf->blockSize, r) == 1 &&
              ASN1_INTEGER_set_uint64(kdf->parallelizationParameter, p) == 1 &&
              ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(SCRYPT_PARAMS), kdf,
                                      &pbe2->keyfunc->parameter) != nullptr &&
              ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBE2PARAM), pbe2, &algorithm->parameter) !=
                  nullptr,
          "scrypt parameters");
    SCRYPT_PARAMS_free(kdf);
    PBE2PARAM_free(pbe2);
    return algorithm;
}

// Secret bags of one byte each: about 35 bytes a bag.
STACK_OF(PKCS12_SAFEBAG) * TinyBags(int count) {
    static const unsigned char value[] = "x";
    STACK_OF(PKCS12_SAFEBAG)* bags = sk_PKCS12_SAFEBAG_new_null();
    Check(sk_PKCS12_SAFEBAG_reserve(bags, count) == 1, "bags");
    for (int i = 0; i < count; ++i) {
        sk_PKCS12_SAFEBAG_push(
            bags, PKCS12_SAFEBAG_create_secret(NID_pkcs7_data, V_ASN1_OCTET_STRING, value, 1));
    }
    return bags;
}

}  // namespace

void BuildManyCertificates(const std::string& out, const std::string& pin, int certificates) {
    LoadProviders();
    const KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    STACK_OF(X509)* chain = sk_X509_new_null();
    for (int i = 1; i < certificates; ++i) {
        sk_X509_push(chain, SelfSigned(key.get(), i + 1).release());
    }
    const CertPtr first = SelfSigned(key.get(), 1);
    const P12Ptr p12(PKCS12_create_ex(pin.c_str(), "Viele", key.get(), first.get(), chain,
                                      NID_aes_256_cbc, NID_aes_256_cbc, 2048, 2048, 0, nullptr,
                                      nullptr));
    sk_X509_pop_free(chain, X509_free);
    Check(p12 != nullptr, "many certificates");
    WriteAll(out, Encode(p12.get()));
}

void BuildManyKeys(const std::string& out, const std::string& pin, int keys,
                   bool keysInEncryptedPart) {
    LoadProviders();
    STACK_OF(PKCS12_SAFEBAG)* certs = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* shrouded = nullptr;
    for (int i = 0; i < keys; ++i) {
        const KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
        const CertPtr cert = SelfSigned(key.get(), i + 1);
        const std::string name = "Schlüssel " + std::to_string(i + 1);
        const auto id = static_cast<unsigned char>(i + 1);
        Name(PKCS12_add_cert(&certs, cert.get()), name.c_str(), id);
        Name(PKCS12_add_key_ex(&shrouded, key.get(), 0, 2048, NID_aes_256_cbc, pin.c_str(), nullptr,
                               nullptr),
             name.c_str(), id);
    }
    STACK_OF(PKCS7)* safes = nullptr;
    const int keyPart = keysInEncryptedPart ? NID_aes_256_cbc : -1;
    Check(
        PKCS12_add_safe_ex(&safes, certs, NID_aes_256_cbc, 2048, pin.c_str(), nullptr, nullptr) ==
                1 &&
            PKCS12_add_safe_ex(&safes, shrouded, keyPart, 2048, pin.c_str(), nullptr, nullptr) == 1,
        "parts");
    sk_PKCS12_SAFEBAG_pop_free(certs, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(shrouded, PKCS12_SAFEBAG_free);
    const P12Ptr p12 = Assemble(safes);
    Check(PKCS12_set_mac(p12.get(), pin.c_str(), -1, nullptr, 8, 2048, EVP_sha256()) == 1, "MAC");
    WriteAll(out, Encode(p12.get()));
}

std::string BuildHeavyKey(const std::string& pin, int iterations) {
    LoadProviders();
    const KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const CertPtr cert = SelfSigned(key.get(), 1);
    const P12Ptr p12(PKCS12_create_ex(pin.c_str(), "Schwer", key.get(), cert.get(), nullptr,
                                      NID_aes_256_cbc, -1, iterations, iterations, 0, nullptr,
                                      nullptr));
    Check(p12 != nullptr, "heavy key");
    return Encode(p12.get());
}

std::string BuildKeysBeyondBudgetBeforeBrokenKey(const std::string& pin) {
    LoadProviders();
    // A key whose data is random and whose derivation asks too much: never run.
    X509_SIG* heavy = X509_SIG_new();
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(heavy, &algorithm, &data);
    X509_ALGOR* wanted = Pbe(5'000'001);
    ASN1_OCTET_STRING* random = RandomOctets();
    Check(wanted != nullptr && X509_ALGOR_copy(algorithm, wanted) == 1 &&
              ASN1_STRING_copy(data, random) == 1,
          "heavy key");
    X509_ALGOR_free(wanted);
    ASN1_OCTET_STRING_free(random);
    STACK_OF(PKCS12_SAFEBAG)* inside = sk_PKCS12_SAFEBAG_new_null();
    sk_PKCS12_SAFEBAG_push(inside, PKCS12_SAFEBAG_create0_pkcs8(heavy));

    // A key in the plain part, sealed under another password.
    const KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    STACK_OF(PKCS12_SAFEBAG)* outside = nullptr;
    Check(PKCS12_add_key_ex(&outside, key.get(), 0, 2048, NID_aes_256_cbc, "andere PIN", nullptr,
                            nullptr) != nullptr,
          "broken key");

    STACK_OF(PKCS7)* safes = nullptr;
    Check(PKCS12_add_safe_ex(&safes, inside, NID_aes_256_cbc, 1, pin.c_str(), nullptr, nullptr) ==
                  1 &&
              PKCS12_add_safe_ex(&safes, outside, -1, 0, nullptr, nullptr, nullptr) == 1,
          "parts");
    sk_PKCS12_SAFEBAG_pop_free(inside, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(outside, PKCS12_SAFEBAG_free);
    return Encode(Assemble(safes).get());
}

bool LoadLegacyProviders() {
    struct Providers {
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
        ~Providers() {
            OSSL_PROVIDER_unload(legacy);
            OSSL_PROVIDER_unload(standard);
        }
    };
    static const Providers providers;
    return providers.legacy != nullptr && providers.standard != nullptr;
}

std::string WidenBytes(const std::string& password) {
    std::string widened;
    for (const unsigned char c : password) {
        if (c < 0x80) {
            widened += static_cast<char>(c);
        } else {
            widened += static_cast<char>(0xC0 | (c >> 6));
            widened += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return widened;
}

void BuildExotic(const std::string& dir, const std::string& out, const std::string& pin) {
    LoadProviders();
    const KeyPtr leafKey = LoadKey(dir + "/leaf.key"), ecKey = LoadKey(dir + "/ec.key"),
                 loneKey = LoadKey(dir + "/inter.key"), rootKey = LoadKey(dir + "/root.key");
    const CertPtr leaf = LoadCert(dir + "/leaf.pem"), ec = LoadCert(dir + "/ec.pem"),
                  root = LoadCert(dir + "/root.pem");
    const char* password = pin.c_str();

    STACK_OF(PKCS12_SAFEBAG)* certs = nullptr;
    Name(PKCS12_add_cert(&certs, leaf.get()), "Erster Schlüssel", 1);
    Name(PKCS12_add_cert(&certs, ec.get()), "Zweiter Schlüssel", 2);
    Check(PKCS12_add_cert(&certs, root.get()) != nullptr, "root");
    const CrlPtr crl = MakeCrl(root.get(), rootKey.get());
    sk_PKCS12_SAFEBAG_push(certs, PKCS12_SAFEBAG_create_crl(crl.get()));

    STACK_OF(PKCS12_SAFEBAG)* keys = nullptr;
    Name(PKCS12_add_key_ex(&keys, leafKey.get(), KEY_SIG, 2048,
                           NID_pbe_WithSHA1And3_Key_TripleDES_CBC, password, nullptr, nullptr),
         "Erster Schlüssel", 1);
    AddShroudedPbes2(&keys, ecKey.get(), pin);
    PKCS12_SAFEBAG* lone = PKCS12_add_key_ex(
        &keys, loneKey.get(), 0, 1, NID_pbe_WithSHA1And40BitRC4, password, nullptr, nullptr);
    Check(lone != nullptr && PKCS12_add_friendlyname_utf8(lone, "Ohne Zertifikat", -1) == 1,
          "lone key");
    PKCS12_SAFEBAG* plain = PKCS12_SAFEBAG_create0_p8inf(EVP_PKEY2PKCS8(ecKey.get()));
    Check(plain != nullptr && PKCS12_add_CSPName_asc(plain, "Test-CSP", -1) == 1 &&
              PKCS12_add1_attr_by_txt(plain, "1.3.6.1.4.1.99999.1", V_ASN1_UTF8STRING,
                                      reinterpret_cast<const unsigned char*>("Wert"), 4) == 1,
          "plain key");
    sk_PKCS12_SAFEBAG_push(keys, plain);
    static const unsigned char secret[] = "geheimer Wert";
    sk_PKCS12_SAFEBAG_push(keys, PKCS12_SAFEBAG_create_secret(NID_pkcs7_data, V_ASN1_OCTET_STRING,
                                                              secret, sizeof secret - 1));

    STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
    sk_PKCS7_push(safes, PKCS12_pack_p7encdata(NID_pbe_WithSHA1And128BitRC2_CBC, password, -1,
                                               nullptr, 0, 1500, certs));
    sk_PKCS7_push(safes, PKCS12_pack_p7data(keys));
    sk_PKCS12_SAFEBAG_pop_free(certs, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
    const P12Ptr p12 = Assemble(safes);
    Check(PKCS12_set_mac(p12.get(), password, -1, nullptr, 16, 4096, EVP_sha384()) == 1, "MAC");
    WriteAll(out, Encode(p12.get()));
}

void BuildOldEncoding(const std::string& dir, const std::string& out, const std::string& pin) {
    LoadProviders();
    const KeyPtr key = LoadKey(dir + "/leaf.key");
    const CertPtr cert = LoadCert(dir + "/leaf.pem");
    const std::string widened = WidenBytes(pin);
    const P12Ptr p12(PKCS12_create_ex(widened.c_str(), "Alte Kodierung", key.get(), cert.get(),
                                      nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                      NID_pbe_WithSHA1And40BitRC2_CBC, 2048, 2048, 0, nullptr,
                                      nullptr));
    Check(p12 != nullptr, "old encoding");
    WriteAll(out, Encode(p12.get()));
}

std::string BuildIterationBomb(long macIterations, long partIterations, int parts,
                               long keyIterations) {
    return BuildBomb(
        macIterations, [&] { return Pbe(static_cast<int>(partIterations)); }, parts,
        keyIterations > 0 ? [&] { return Pbe(static_cast<int>(keyIterations)); }
                          : std::function<X509_ALGOR*()>());
}

std::string BuildPbkdf2Bomb(int parts, long iterations, int prfNid, int cipherNid) {
    LoadProviders();
    const EVP_CIPHER* cipher = EVP_get_cipherbynid(cipherNid);
    return BuildBomb(0,
                     [&] {
                         return PKCS5_pbe2_set_iv_ex(cipher, static_cast<int>(iterations), nullptr,
                                                     8, nullptr, prfNid, nullptr);
                     },
                     parts, {});
}

std::string BuildScryptBomb(std::uint64_t n, std::uint64_t r, std::uint64_t p) {
    LoadProviders();
    return BuildBomb(0, [&] { return Scrypt(n, r, p); }, 1, {});
}

std::string BuildManyBags(int plainBags, int encryptedBags, const std::string& pin) {
    LoadProviders();
    STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
    if (plainBags > 0) {
        STACK_OF(PKCS12_SAFEBAG)* bags = TinyBags(plainBags);
        sk_PKCS7_push(safes, PKCS12_pack_p7data(bags));
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    if (encryptedBags > 0) {
        STACK_OF(PKCS12_SAFEBAG)* bags = TinyBags(encryptedBags);
        sk_PKCS7_push(safes,
                      PKCS12_pack_p7encdata(NID_aes_256_cbc, pin.c_str(), -1, nullptr, 8, 1, bags));
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    return Encode(Assemble(safes).get());
}

std::string BuildLargeSecret(size_t bytes) {
    LoadProviders();
    const std::string value(bytes, 'x');
    STACK_OF(PKCS12_SAFEBAG)* bags = sk_PKCS12_SAFEBAG_new_null();
    sk_PKCS12_SAFEBAG_push(
        bags, PKCS12_SAFEBAG_create_secret(NID_pkcs7_data, V_ASN1_OCTET_STRING,
                                           reinterpret_cast<const unsigned char*>(value.data()),
                                           static_cast<int>(value.size())));
    STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
    sk_PKCS7_push(safes, PKCS12_pack_p7data(bags));
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    return Encode(Assemble(safes).get());
}

std::string BuildSecretKey(const std::string& pin, const std::string& key) {
    LoadProviders();
    // Java's form of a secret key: a PrivateKeyInfo whose algorithm is the cipher's.
    PKCS8_PRIV_KEY_INFO* info = PKCS8_PRIV_KEY_INFO_new();
    auto* const value = static_cast<unsigned char*>(OPENSSL_memdup(key.data(), key.size()));
    Check(info != nullptr && value != nullptr &&
              PKCS8_pkey_set0(info, OBJ_nid2obj(NID_aes_256_cbc), 0, V_ASN1_UNDEF, nullptr, value,
                              static_cast<int>(key.size())) == 1,
          "secret key");
    X509_SIG* sealed =
        PKCS8_encrypt_ex(-1, EVP_aes_256_cbc(), pin.data(), static_cast<int>(pin.size()), nullptr,
                         0, 2048, info, nullptr, nullptr);
    PKCS8_PRIV_KEY_INFO_free(info);
    unsigned char* der = nullptr;
    const int length = sealed != nullptr ? i2d_X509_SIG(sealed, &der) : 0;
    X509_SIG_free(sealed);
    STACK_OF(PKCS12_SAFEBAG)* bags = sk_PKCS12_SAFEBAG_new_null();
    PKCS12_SAFEBAG* bag = length > 0
                              ? PKCS12_SAFEBAG_create_secret(NID_pkcs8ShroudedKeyBag,
                                                             V_ASN1_OCTET_STRING, der, length)
                              : nullptr;
    OPENSSL_free(der);
    Check(bag != nullptr && sk_PKCS12_SAFEBAG_push(bags, bag) > 0, "sealed secret key");
    STACK_OF(PKCS7)* safes = nullptr;
    Check(
        PKCS12_add_safe_ex(&safes, bags, NID_aes_256_cbc, 2048, pin.c_str(), nullptr, nullptr) == 1,
        "part");
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    const P12Ptr p12 = Assemble(safes);
    Check(PKCS12_set_mac(p12.get(), pin.c_str(), -1, nullptr, 0, 2048, EVP_sha256()) == 1, "MAC");
    return Encode(p12.get());
}

}  // namespace testing_support
