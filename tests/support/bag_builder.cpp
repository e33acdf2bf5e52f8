#include "tests/support/bag_builder.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>

#include "pkcs12/openssl_context.h"

namespace testing_support {
namespace {

const unsigned char* Bytes(const Der& der) {
    return reinterpret_cast<const unsigned char*>(der.data());
}

template <typename T>
Der Encode(const T* object, int (*encode)(const T*, unsigned char**)) {
    unsigned char* out = nullptr;
    const int length = encode(object, &out);
    if (length <= 0) {
        throw std::runtime_error("cannot encode");
    }
    Der der(reinterpret_cast<const char*>(out), static_cast<size_t>(length));
    OPENSSL_free(out);
    return der;
}

Der Length(size_t length) {
    if (length < 0x80) {
        return Der(1, static_cast<char>(length));
    }
    Der octets;
    for (; length != 0; length >>= 8) {
        octets.insert(octets.begin(), static_cast<char>(length & 0xFF));
    }
    return static_cast<char>(0x80 | octets.size()) + octets;
}

Der Crypt(const X509_ALGOR* algorithm, const Der& data, const std::string& password, bool encrypt) {
    unsigned char* out = nullptr;
    int length = 0;
    if (PKCS12_pbe_crypt_ex(algorithm, password.data(), static_cast<int>(password.size()),
                            Bytes(data), static_cast<int>(data.size()), &out, &length,
                            encrypt ? 1 : 0, nullptr, nullptr) == nullptr) {
        return "";
    }
    Der result(reinterpret_cast<const char*>(out), static_cast<size_t>(length));
    OPENSSL_clear_free(out, static_cast<size_t>(length));
    return result;
}

// Where the contents of a well-formed element begin.
size_t HeaderLength(const Der& element) {
    const auto length = static_cast<unsigned char>(element.at(1));
    return length < 0x80 ? 2 : 2 + (length & 0x7F);
}

// The elements `content` is made of, or none where it is not that through to its end: an OCTET
// STRING may hold anything.
std::optional<std::vector<Der>> Elements(const Der& content) {
    std::vector<Der> elements;
    for (size_t at = 0; at < content.size();) {
        const size_t left = content.size() - at;
        if (left < 2 || (content[at] & 0x1F) == 0x1F) {
            return std::nullopt;
        }
        size_t length = static_cast<unsigned char>(content[at + 1]), header = 2;
        if (length >= 0x80) {
            header += length & 0x7F;
            if (header == 2 || header > 6 || left < header) {
                return std::nullopt;
            }
            length = 0;
            for (size_t i = 2; i < header; ++i) {
                length = (length << 8) | static_cast<unsigned char>(content[at + i]);
            }
        }
        if (left - header < length) {
            return std::nullopt;
        }
        elements.push_back(content.substr(at, header + length));
        at += header + length;
    }
    return elements;
}

// What a constructed element or an OCTET STRING holds, where it is a series of elements.
std::vector<Der> Inside(const Der& element) {
    const auto tag = static_cast<unsigned char>(element.at(0));
    if ((tag & 0x20) == 0 && tag != 0x04) {
        return {};
    }
    return Elements(element.substr(HeaderLength(element))).value_or(std::vector<Der>{});
}

// An AlgorithmIdentifier of PKCS#5 (PBES1, PBES2, PBKDF2, PBMAC1) or of the PKCS#12 schemes.
bool PasswordBased(const Der& algorithm) {
    static const Der kArcs[] = {Oid("1.2.840.113549.1.5"), Oid("1.2.840.113549.1.12.1")};
    const std::vector<Der> items = algorithm.at(0) == 0x30 ? Inside(algorithm) : std::vector<Der>{};
    if (items.empty() || items[0].at(0) != 0x06) {
        return false;
    }
    const Der oid = items[0].substr(2);
    return std::any_of(std::begin(kArcs), std::end(kArcs), [&](const Der& arc) {
        return oid.size() > arc.size() - 2 && oid.starts_with(arc.substr(2));
    });
}

void OctetsIn(const Der& element, std::vector<Der>& found) {
    if (element.at(0) == 0x04) {
        found.push_back(element.substr(HeaderLength(element)));
    } else if ((element.at(0) & 0x20) != 0) {
        for (const Der& item : Inside(element)) {
            OctetsIn(item, found);
        }
    }
}

void FindSaltsAndIvs(const Der& element, std::vector<Der>& found) {
    const std::vector<Der> items = Inside(element);
    if (PasswordBased(element)) {
        for (size_t i = 1; i < items.size(); ++i) {
            OctetsIn(items[i], found);
        }
        return;
    }
    // What the algorithm protects is not searched: encrypted bytes may look like anything.
    if (!items.empty() && PasswordBased(items[0])) {
        FindSaltsAndIvs(items[0], found);
        return;
    }
    for (const Der& item : items) {
        FindSaltsAndIvs(item, found);
    }
}

ossl::AlgorPtr Pbes2Aes256() {
    return ossl::AlgorPtr(PKCS5_pbe2_set_iv_ex(EVP_aes_256_cbc(), 2048, nullptr, 8, nullptr,
                                               NID_hmacWithSHA256, nullptr));
}

}  // namespace

Der Element(unsigned char tag, const Der& content) {
    return static_cast<char>(tag) + Length(content.size()) + content;
}

Der Sequence(const std::vector<Der>& items) {
    Der content;
    for (const Der& item : items) {
        content += item;
    }
    return Element(0x30, content);
}

Der Oid(const char* dotted) {
    const std::unique_ptr<ASN1_OBJECT, ossl::Deleter<ASN1_OBJECT_free>> object(
        OBJ_txt2obj(dotted, 1));
    return Encode<ASN1_OBJECT>(object.get(), i2d_ASN1_OBJECT);
}

Der NewPrivateKeyInfo() {
    const std::unique_ptr<EVP_PKEY, ossl::Deleter<EVP_PKEY_free>> key(EVP_EC_gen("P-256"));
    const ossl::KeyInfoPtr info(EVP_PKEY2PKCS8(key.get()));
    return Encode<PKCS8_PRIV_KEY_INFO>(info.get(), i2d_PKCS8_PRIV_KEY_INFO);
}

Der Sealed(const Der& plain, const std::string& password, bool pkcs12Scheme) {
    const ossl::AlgorPtr algorithm(
        pkcs12Scheme ? PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, nullptr, 8)
                     : Pbes2Aes256().release());
    const Der data = Crypt(algorithm.get(), plain, password, true);
    return Sequence({Encode<X509_ALGOR>(algorithm.get(), i2d_X509_ALGOR), Element(0x04, data)});
}

Der Encrypted(const Der& algorithm, const Der& plain, const std::string& password) {
    const unsigned char* cursor = Bytes(algorithm);
    const ossl::AlgorPtr decoded(
        d2i_X509_ALGOR(nullptr, &cursor, static_cast<long>(algorithm.size())));
    const Der data = decoded ? Crypt(decoded.get(), plain, password, true) : "";
    if (data.empty()) {
        throw std::runtime_error("cannot encrypt");
    }
    return data;
}

Der Unseal(const Der& sealed, const std::string& password) {
    const unsigned char* cursor = Bytes(sealed);
    const ossl::SigPtr sig(d2i_X509_SIG(nullptr, &cursor, static_cast<long>(sealed.size())));
    if (!sig) {
        return "";
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_get0(sig.get(), &algorithm, &data);
    return Crypt(algorithm,
                 Der(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                     static_cast<size_t>(ASN1_STRING_length(data))),
                 password, false);
}

Der NameAndKeyId(const std::string& name, const std::string& keyId) {
    Der bmp;
    for (const char c : name) {
        bmp += '\0';
        bmp += c;
    }
    return Element(
        0x31, Sequence({Oid("1.2.840.113549.1.9.20"), Element(0x31, Element(0x1E, bmp))}) +
                  Sequence({Oid("1.2.840.113549.1.9.21"), Element(0x31, Element(0x04, keyId))}));
}

Der ShroudedKeyBag(const Der& sealed, const Der& attributes) {
    return Sequence({Oid("1.2.840.113549.1.12.10.1.2"), Element(0xA0, sealed), attributes});
}

Der SecretBag(const char* typeOid, const Der& value, const Der& attributes) {
    return Sequence({Oid("1.2.840.113549.1.12.10.1.5"),
                     Element(0xA0, Sequence({Oid(typeOid), Element(0xA0, value)})), attributes});
}

Der JavaSecretKeyBag(const Der& sealed, const Der& attributes) {
    return SecretBag("1.2.840.113549.1.12.10.1.2", Element(0x04, sealed), attributes);
}

Der SafeContentsBag(const std::vector<Der>& bags) {
    return Sequence({Oid("1.2.840.113549.1.12.10.1.6"), Element(0xA0, Sequence(bags))});
}

Der Pfx(const std::vector<Part>& parts, const std::string& password) {
    const ossl::SafesPtr safes(sk_PKCS7_new_null());
    for (const Part& part : parts) {
        const Der contents = Sequence(part.bags);
        PKCS7* safe = PKCS7_new();
        sk_PKCS7_push(safes.get(), safe);
        if (!part.encrypted) {
            PKCS7_set_type(safe, NID_pkcs7_data);
            ASN1_OCTET_STRING_set(safe->d.data, Bytes(contents), static_cast<int>(contents.size()));
            continue;
        }
        PKCS7_set_type(safe, NID_pkcs7_encrypted);
        const auto algorithm = Pbes2Aes256();
        X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, algorithm.get());
        const Der data = Crypt(algorithm.get(), contents, password, true);
        ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(octets, Bytes(data), static_cast<int>(data.size()));
        ASN1_OCTET_STRING_free(safe->d.encrypted->enc_data->enc_data);
        safe->d.encrypted->enc_data->enc_data = octets;
    }
    const ossl::Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12 || PKCS12_set_mac(p12.get(), password.data(), static_cast<int>(password.size()),
                               nullptr, 0, 2048, EVP_sha256()) != 1) {
        throw std::runtime_error("cannot make the PFX");
    }
    return Encode<PKCS12>(p12.get(), i2d_PKCS12);
}

std::vector<Der> PartsOf(const Der& pfx, const std::string& password) {
    const unsigned char* cursor = Bytes(pfx);
    const ossl::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx.size())));
    const ossl::SafesPtr safes(p12 ? PKCS12_unpack_authsafes(p12.get()) : nullptr);
    std::vector<Der> parts;
    for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
        const PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        const ASN1_OCTET_STRING* octets =
            PKCS7_type_is_data(safe) ? safe->d.data : safe->d.encrypted->enc_data->enc_data;
        const Der data(reinterpret_cast<const char*>(ASN1_STRING_get0_data(octets)),
                       static_cast<size_t>(ASN1_STRING_length(octets)));
        parts.push_back(PKCS7_type_is_data(safe)
                            ? data
                            : Crypt(safe->d.encrypted->enc_data->algorithm, data, password, false));
    }
    return parts;
}

std::vector<Der> ChildrenOf(const Der& element) {
    // Tests read DER only: definite lengths, one-octet tags.
    auto read = [](const Der& der, size_t& at) {
        const size_t start = at;
        size_t length = static_cast<unsigned char>(der.at(at + 1));
        at += 2;
        if (length >= 0x80) {
            const size_t octets = length & 0x7F;
            length = 0;
            for (size_t i = 0; i < octets; ++i) {
                length = (length << 8) | static_cast<unsigned char>(der.at(at++));
            }
        }
        at += length;
        return std::make_pair(start, at);
    };
    size_t at = 0;
    const auto [start, end] = read(element, at);
    size_t header = 2;
    if (static_cast<unsigned char>(element[1]) >= 0x80) {
        header += static_cast<unsigned char>(element[1]) & 0x7F;
    }
    const Der content = element.substr(start + header, end - start - header);
    std::vector<Der> children;
    for (size_t cursor = 0; cursor < content.size();) {
        const auto [from, to] = read(content, cursor);
        children.push_back(content.substr(from, to - from));
    }
    return children;
}

std::vector<Der> BagsOf(const Der& contents) {
    return ChildrenOf(contents);
}

std::vector<Der> SaltsAndIvs(const Der& pfx, const std::string& password) {
    std::vector<Der> found;
    const std::vector<Der> items = ChildrenOf(pfx);
    // MacData: under PBMAC1 its own salt is not used (it may read "NOT USED" or repeat PBKDF2's).
    if (items.size() == 3 && !PasswordBased(ChildrenOf(ChildrenOf(items[2])[0])[0])) {
        OctetsIn(ChildrenOf(items[2])[1], found);
    }
    FindSaltsAndIvs(pfx, found);
    // The authenticated safe's ContentInfos; the encrypted ones searched again decrypted.
    const std::vector<Der> safes =
        ChildrenOf(ChildrenOf(ChildrenOf(ChildrenOf(items[1])[1])[0])[0]);
    const std::vector<Der> parts = PartsOf(pfx, password);
    for (size_t i = 0; i < safes.size() && i < parts.size(); ++i) {
        if (ChildrenOf(safes[i])[0] == Oid("1.2.840.113549.1.7.6") && !parts[i].empty()) {
            FindSaltsAndIvs(parts[i], found);
        }
    }
    return found;
}

}  // namespace testing_support
