// Writes PKCS#12 files in the combinations OpenSSL's API can make, beyond what the openssl
// command offers: any PBES1 scheme or PBES2 cipher and PRF per part, salts of any length (also
// empty), any MAC digest, iteration counts, key types, parts in clear, and the password in the
// older encoding. Reads one file a line from standard input:
//   NAME key=rsa|rsa-pss|dsa|ec|ed25519 pass=TEXT old=0|1 certs=SCHEME keys=SCHEME
//        mac=none|DIGEST salt=N iter=N
// SCHEME is "none", a PBES1 name (PBE-SHA1-3DES) or pbes2/CIPHER/PRF (pbes2/aes-256-cbc/
// hmacWithSHA256). With old=1 the PKCS#12 derivations (PBES1 parts, the MAC) take the
// password as OpenSSL before 1.1.0 did, every UTF-8 byte as one character; PBKDF2 takes its
// bytes. Usage: make_pfx_matrix DIR < LINES

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

void Check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

template <auto Free>
struct Release {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Release<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Release<X509_free>>;

std::string WidenBytes(const std::string& text) {
    std::string widened;
    for (const unsigned char c : text) {
        if (c < 0x80) {
            widened += static_cast<char>(c);
        } else {
            widened += static_cast<char>(0xC0 | (c >> 6));
            widened += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return widened;
}

KeyPtr MakeKey(const std::string& type) {
    if (type == "rsa") {
        return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048)));
    }
    if (type == "rsa-pss") {
        std::unique_ptr<EVP_PKEY_CTX, Release<EVP_PKEY_CTX_free>> context(
            EVP_PKEY_CTX_new_from_name(nullptr, "RSA-PSS", nullptr));
        EVP_PKEY* key = nullptr;
        Check(context && EVP_PKEY_keygen_init(context.get()) == 1 &&
                  EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), 2048) == 1 &&
                  EVP_PKEY_keygen(context.get(), &key) == 1,
              "RSA-PSS key");
        return KeyPtr(key);
    }
    if (type == "ec") {
        return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    }
    if (type == "ed25519") {
        return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    }
    Check(type == "dsa", "key type " + type);
    std::unique_ptr<EVP_PKEY_CTX, Release<EVP_PKEY_CTX_free>> context(
        EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
    EVP_PKEY* params = nullptr;
    Check(context && EVP_PKEY_paramgen_init(context.get()) == 1 &&
              EVP_PKEY_CTX_set_dsa_paramgen_bits(context.get(), 2048) == 1 &&
              EVP_PKEY_paramgen(context.get(), &params) == 1,
          "DSA parameters");
    const KeyPtr parameters(params);
    context.reset(EVP_PKEY_CTX_new(parameters.get(), nullptr));
    EVP_PKEY* key = nullptr;
    Check(context && EVP_PKEY_keygen_init(context.get()) == 1 &&
              EVP_PKEY_keygen(context.get(), &key) == 1,
          "DSA key");
    return KeyPtr(key);
}

CertPtr SelfSigned(EVP_PKEY* key, const std::string& common) {
    CertPtr cert(X509_new());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool plainSignature = EVP_PKEY_is_a(key, "ED25519");
    Check(X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(common.c_str()), -1,
                                         -1, 0) == 1 &&
              X509_set_issuer_name(cert.get(), name) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 30) != nullptr &&
              X509_set_pubkey(cert.get(), key) == 1 &&
              X509_sign(cert.get(), key, plainSignature ? nullptr : EVP_sha256()) > 0,
          "certificate");
    return cert;
}

// Sets the salt of a PBES1 or PBES2 identifier to `length` random bytes, also none at all,
// which OpenSSL's functions never write.
void SetSalt(X509_ALGOR* algorithm, int length) {
    unsigned char bytes[64];
    Check(length >= 0 && length <= 64 && RAND_bytes(bytes, sizeof bytes) == 1, "salt");
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        auto* pbe = static_cast<PBEPARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter));
        Check(pbe && ASN1_OCTET_STRING_set(pbe->salt, bytes, length) == 1 &&
                  ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBEPARAM), pbe, &algorithm->parameter),
              "PBES1 salt");
        PBEPARAM_free(pbe);
        return;
    }
    auto* pbe2 = static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter));
    Check(pbe2 != nullptr, "PBES2 parameters");
    auto* kdf = static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter));
    Check(
        kdf && ASN1_OCTET_STRING_set(kdf->salt->value.octet_string, bytes, length) == 1 &&
            ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), kdf, &pbe2->keyfunc->parameter) &&
            ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBE2PARAM), pbe2, &algorithm->parameter),
        "PBES2 salt");
    PBKDF2PARAM_free(kdf);
    PBE2PARAM_free(pbe2);
}

struct Combination {
    std::string name, key = "rsa", pass, certs, keys, mac = "sha256";
    bool old = false;
    int salt = 8, iterations = 2048;
};

// The identifier of SCHEME, and the password the scheme derives from.
X509_ALGOR* Scheme(const Combination& combination, const std::string& scheme,
                   std::string& password) {
    X509_ALGOR* algorithm = nullptr;
    if (scheme.rfind("pbes2/", 0) == 0) {
        const size_t slash = scheme.find('/', 6);
        const std::string cipherName = scheme.substr(6, slash - 6);
        const std::string prfName = scheme.substr(slash + 1);
        const EVP_CIPHER* cipher = EVP_get_cipherbyname(cipherName.c_str());
        const int prf = OBJ_txt2nid(prfName.c_str());
        Check(cipher != nullptr && prf != NID_undef, "PBES2 " + scheme);
        algorithm =
            PKCS5_pbe2_set_iv_ex(cipher, combination.iterations, nullptr, 8, nullptr, prf, nullptr);
        password = combination.pass;
    } else {
        const int nid = OBJ_txt2nid(scheme.c_str());
        Check(nid != NID_undef, "PBES1 " + scheme);
        algorithm = PKCS5_pbe_set_ex(nid, combination.iterations, nullptr, 8, nullptr);
        // PKCS#5 v1 schemes take the bytes; only the PKCS#12 ones knew the older encoding.
        const bool pkcs12 =
            nid >= NID_pbe_WithSHA1And128BitRC4 && nid <= NID_pbe_WithSHA1And40BitRC2_CBC;
        password = combination.old && pkcs12 ? WidenBytes(combination.pass) : combination.pass;
    }
    Check(algorithm != nullptr, "scheme " + scheme);
    SetSalt(algorithm, combination.salt);
    return algorithm;
}

void AddMac(PKCS12* p12, const Combination& combination) {
    if (combination.mac == "none") {
        return;
    }
    const EVP_MD* digest = EVP_get_digestbyname(combination.mac.c_str());
    const std::string password = combination.old ? WidenBytes(combination.pass) : combination.pass;
    Check(
        digest != nullptr && PKCS12_setup_mac(p12, combination.iterations, nullptr, 8, digest) == 1,
        "MAC " + combination.mac);
    const ASN1_OCTET_STRING* value = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    PKCS12_get0_mac(&value, nullptr, &salt, nullptr, p12);
    unsigned char bytes[64];
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    // The MAC data is the file's own; OpenSSL only hands it out read-only.
    Check(RAND_bytes(bytes, sizeof bytes) == 1 &&
              ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(salt), bytes,
                                    combination.salt) == 1 &&
              PKCS12_gen_mac(p12, password.c_str(), -1, mac, &length) == 1 &&
              ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(value), mac,
                                    static_cast<int>(length)) == 1,
          "MAC value");
}

PKCS7* Pack(const Combination& combination, STACK_OF(PKCS12_SAFEBAG) * bags) {
    if (combination.certs == "none") {
        return PKCS12_pack_p7data(bags);
    }
    std::string password;
    X509_ALGOR* algorithm = Scheme(combination, combination.certs, password);
    ASN1_OCTET_STRING* data =
        PKCS12_item_i2d_encrypt_ex(algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password.c_str(),
                                   static_cast<int>(password.size()), bags, 1, nullptr, nullptr);
    PKCS7* safe = PKCS7_new();
    Check(data != nullptr && safe != nullptr && PKCS7_set_type(safe, NID_pkcs7_encrypted) == 1 &&
              X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, algorithm) == 1,
          "encrypted part");
    ASN1_OCTET_STRING_free(safe->d.encrypted->enc_data->enc_data);
    safe->d.encrypted->enc_data->enc_data = data;
    X509_ALGOR_free(algorithm);
    return safe;
}

PKCS12_SAFEBAG* KeyBag(const Combination& combination, EVP_PKEY* key) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    Check(info != nullptr, "PKCS#8");
    if (combination.keys == "none") {
        return PKCS12_SAFEBAG_create0_p8inf(info);
    }
    std::string password;
    X509_ALGOR* algorithm = Scheme(combination, combination.keys, password);
    X509_SIG* sealed = PKCS8_set0_pbe_ex(password.c_str(), static_cast<int>(password.size()), info,
                                         algorithm, nullptr, nullptr);
    PKCS8_PRIV_KEY_INFO_free(info);
    Check(sealed != nullptr, "shrouded key");
    return PKCS12_SAFEBAG_create0_pkcs8(sealed);
}

std::string Build(const Combination& combination, EVP_PKEY* key, X509* cert) {
    static const unsigned char keyId[] = {0x4b, 0x65, 0x79, 0x31};
    const std::string friendly = "Matrix " + combination.key;
    STACK_OF(PKCS12_SAFEBAG)* certs = sk_PKCS12_SAFEBAG_new_null();
    PKCS12_SAFEBAG* certBag = PKCS12_add_cert(&certs, cert);
    PKCS12_SAFEBAG* keyBag = KeyBag(combination, key);
    for (PKCS12_SAFEBAG* bag : {certBag, keyBag}) {
        Check(PKCS12_add_friendlyname_utf8(bag, friendly.c_str(), -1) == 1 &&
                  PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(keyId), sizeof keyId) == 1,
              "attributes");
    }
    STACK_OF(PKCS12_SAFEBAG)* keys = sk_PKCS12_SAFEBAG_new_null();
    sk_PKCS12_SAFEBAG_push(keys, keyBag);
    STACK_OF(PKCS7)* safes = sk_PKCS7_new_null();
    sk_PKCS7_push(safes, Pack(combination, certs));
    sk_PKCS7_push(safes, PKCS12_pack_p7data(keys));
    sk_PKCS12_SAFEBAG_pop_free(certs, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
    PKCS12* p12 = PKCS12_add_safes(safes, 0);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    Check(p12 != nullptr, "assembling");
    AddMac(p12, combination);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    Check(length > 0, "encoding");
    std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

Combination Parse(const std::string& line) {
    std::istringstream words(line);
    Combination combination;
    words >> combination.name;
    for (std::string word; words >> word;) {
        const size_t equals = word.find('=');
        Check(equals != std::string::npos, "word " + word);
        const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
        if (key == "key") {
            combination.key = value;
        } else if (key == "pass") {
            combination.pass = value;
        } else if (key == "old") {
            combination.old = value == "1";
        } else if (key == "certs") {
            combination.certs = value;
        } else if (key == "keys") {
            combination.keys = value;
        } else if (key == "mac") {
            combination.mac = value;
        } else if (key == "salt") {
            combination.salt = std::stoi(value);
        } else if (key == "iter") {
            combination.iterations = std::stoi(value);
        } else {
            throw std::runtime_error("unknown " + key);
        }
    }
    return combination;
}

// OpenSSL 3.0 derives with the SHA-3 PRFs but does not know them by name in PBES2.
void AddSha3Prfs() {
    const int pairs[][2] = {{NID_hmac_sha3_224, NID_sha3_224},
                            {NID_hmac_sha3_256, NID_sha3_256},
                            {NID_hmac_sha3_384, NID_sha3_384},
                            {NID_hmac_sha3_512, NID_sha3_512}};
    for (const auto& pair : pairs) {
        if (EVP_PBE_find(EVP_PBE_TYPE_PRF, pair[0], nullptr, nullptr, nullptr) != 1) {
            EVP_PBE_alg_add_type(EVP_PBE_TYPE_PRF, pair[0], -1, pair[1], nullptr);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_pfx_matrix DIR < LINES\n";
        return 2;
    }
    try {
        const std::unique_ptr<OSSL_PROVIDER, Release<OSSL_PROVIDER_unload>> legacy(
            OSSL_PROVIDER_load(nullptr, "legacy"));
        const std::unique_ptr<OSSL_PROVIDER, Release<OSSL_PROVIDER_unload>> standard(
            OSSL_PROVIDER_load(nullptr, "default"));
        Check(legacy && standard, "providers");
        AddSha3Prfs();
        std::map<std::string, std::pair<KeyPtr, CertPtr>> keys;
        for (std::string line; std::getline(std::cin, line);) {
            if (line.empty() || line[0] == '#') {
                continue;
            }
            const Combination combination = Parse(line);
            auto& [key, cert] = keys[combination.key];
            if (!key) {
                key = MakeKey(combination.key);
                Check(key != nullptr, "key " + combination.key);
                cert = SelfSigned(key.get(), "Matrix " + combination.key);
            }
            try {
                std::ofstream(std::string(argv[1]) + "/" + combination.name, std::ios::binary)
                    << Build(combination, key.get(), cert.get());
            } catch (const std::exception& error) {
                throw std::runtime_error(combination.name + ": " + error.what());
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "make_pfx_matrix: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
