#include "tests/support/pfx_description.h"

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <algorithm>
#include <sstream>

#include "tests/support/pfx_builder.h"

namespace testing_support {
namespace {

std::string Hex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

template <typename T>
std::string DigestOf(const T* object, const ASN1_ITEM* item) {
    unsigned char* der = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(object), &der, item);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(der, static_cast<size_t>(length), digest, &size, EVP_sha256(), nullptr);
    OPENSSL_clear_free(der, static_cast<size_t>(length));
    return Hex(digest, size).substr(0, 16);
}

std::string Name(const ASN1_OBJECT* object) {
    return OBJ_nid2sn(OBJ_obj2nid(object));
}

std::string Protection(const X509_ALGOR* algorithm) {
    std::ostringstream out;
    out << Name(algorithm->algorithm);
    if (OBJ_obj2nid(algorithm->algorithm) == NID_pbes2) {
        auto* pbe2 = static_cast<PBE2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter));
        auto* kdf = static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter));
        out << " " << Name(pbe2->keyfunc->algorithm) << " "
            << (kdf->prf ? Name(kdf->prf->algorithm) : "hmacWithSHA1") << " "
            << Name(pbe2->encryption->algorithm) << " iterations " << ASN1_INTEGER_get(kdf->iter)
            << " salt " << ASN1_STRING_length(kdf->salt->value.octet_string);
        PBKDF2PARAM_free(kdf);
        PBE2PARAM_free(pbe2);
    } else {
        auto* pbe = static_cast<PBEPARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter));
        out << " iterations " << ASN1_INTEGER_get(pbe->iter) << " salt "
            << ASN1_STRING_length(pbe->salt);
        PBEPARAM_free(pbe);
    }
    return out.str();
}

// The digest of what a certificate, CRL or secret bag holds.
std::string Content(const PKCS12_SAFEBAG* bag) {
    switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_certBag: {
            X509* cert = PKCS12_SAFEBAG_get1_cert(bag);
            const std::string digest = cert ? DigestOf(cert, ASN1_ITEM_rptr(X509)) : "other";
            X509_free(cert);
            return digest;
        }
        case NID_crlBag: {
            X509_CRL* crl = PKCS12_SAFEBAG_get1_crl(bag);
            const std::string digest = crl ? DigestOf(crl, ASN1_ITEM_rptr(X509_CRL)) : "other";
            X509_CRL_free(crl);
            return digest;
        }
        case NID_secretBag:
            return DigestOf(PKCS12_SAFEBAG_get0_bag_obj(bag), ASN1_ITEM_rptr(ASN1_ANY));
        default:
            return "unknown";
    }
}

void DescribeBag(std::ostringstream& out, const PKCS12_SAFEBAG* bag, const std::string& password) {
    out << "  bag " << Name(PKCS12_SAFEBAG_get0_type(bag));
    const STACK_OF(X509_ATTRIBUTE)* attributes = PKCS12_SAFEBAG_get0_attrs(bag);
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        const X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        out << " attr " << Name(X509_ATTRIBUTE_get0_object(const_cast<X509_ATTRIBUTE*>(attribute)))
            << "=" << DigestOf(attribute, ASN1_ITEM_rptr(X509_ATTRIBUTE));
    }
    if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
        const X509_ALGOR* algorithm = nullptr;
        X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
        PKCS8_PRIV_KEY_INFO* key =
            PKCS12_decrypt_skey(bag, password.data(), static_cast<int>(password.size()));
        out << " protected " << Protection(algorithm) << " key "
            << (key ? DigestOf(key, ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO)) : "undecryptable");
        PKCS8_PRIV_KEY_INFO_free(key);
    } else if (PKCS12_SAFEBAG_get_nid(bag) == NID_keyBag) {
        out << " plain key "
            << DigestOf(PKCS12_SAFEBAG_get0_p8inf(bag), ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO));
    } else {
        out << " content " << Content(bag);
    }
    out << "\n";
}

}  // namespace

std::string DescribePfx(const std::string& bytes, const std::string& password) {
    const bool loaded = LoadLegacyProviders();
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size()));
    if (!loaded || p12 == nullptr) {
        return "error: not PKCS#12";
    }
    std::ostringstream out;
    const int passLength = static_cast<int>(password.size());
    if (PKCS12_mac_present(p12)) {
        const X509_ALGOR* digest = nullptr;
        const ASN1_OCTET_STRING* salt = nullptr;
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, &digest, &salt, &iterations, p12);
        out << "mac " << Name(digest->algorithm) << " iterations "
            << (iterations ? ASN1_INTEGER_get(iterations) : 1) << " salt "
            << ASN1_STRING_length(salt)
            << (PKCS12_verify_mac(p12, password.data(), passLength) == 1 ? "" : " WRONG") << "\n";
    } else {
        out << "no mac\n";
    }
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
            out << "encrypted part " << Protection(safe->d.encrypted->enc_data->algorithm) << "\n";
            bags = PKCS12_unpack_p7encdata(safe, password.data(), passLength);
        } else {
            out << "plain part\n";
            bags = PKCS12_unpack_p7data(safe);
        }
        if (bags == nullptr) {
            out << "  undecryptable\n";
        }
        for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags); ++j) {
            DescribeBag(out, sk_PKCS12_SAFEBAG_value(bags, j), password);
        }
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    PKCS12_free(p12);
    return out.str();
}

long IterationsForKeysInClear(const std::string& description) {
    long largest = 2048;
    const std::string marker = " iterations ";
    for (size_t at = description.find(marker); at != std::string::npos;
         at = description.find(marker, at + 1)) {
        largest = std::max(largest, std::stol(description.substr(at + marker.size())));
    }
    return largest;
}

std::string ExpectedAfterChange(const std::string& description) {
    const std::string iterations = std::to_string(IterationsForKeysInClear(description));
    const bool unprotected = description.rfind("no mac\n", 0) == 0 &&
                             description.find("protected ") == std::string::npos &&
                             description.find("encrypted part") == std::string::npos;
    std::istringstream lines(description);
    std::ostringstream out;
    bool inPlainPart = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "no mac" && unprotected) {
            line = "mac SHA256 iterations " + iterations + " salt 8";
        }
        inPlainPart = line == "plain part" || (inPlainPart && line.rfind("  ", 0) == 0);
        const size_t plain = line.find(" plain key ");
        if (inPlainPart && line.rfind("  bag keyBag", 0) == 0 && plain != std::string::npos) {
            line = "  bag pkcs8ShroudedKeyBag" + line.substr(12, plain - 12) +
                   " protected PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iterations " + iterations +
                   " salt 8 key" + line.substr(plain + 10);
        }
        out << line << "\n";
    }
    return out.str();
}

}  // namespace testing_support
