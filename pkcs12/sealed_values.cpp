#include "pkcs12/sealed_values.h"

#include <openssl/objects.h>

#include <algorithm>
#include <array>

namespace sealed {
namespace {

using Oid = std::span<const unsigned char>;

// The contents of object identifiers, whole or as the first arcs of a family.
constexpr unsigned char kPkcs5[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05};
constexpr unsigned char kPkcs12Pbe[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01};
constexpr unsigned char kPkcs12OlderPbe[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x05};
constexpr unsigned char kShroudedKeyBag[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                                             0x01, 0x0C, 0x0A, 0x01, 0x02};
constexpr unsigned char kSafeContentsBag[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                                              0x01, 0x0C, 0x0A, 0x01, 0x06};
constexpr unsigned char kEnvelopedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03};
constexpr unsigned char kSignedAndEnveloped[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                 0x0D, 0x01, 0x07, 0x04};
constexpr unsigned char kEncryptedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x06};
constexpr unsigned char kAuthEnvelopedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                                                0x01, 0x09, 0x10, 0x01, 0x17};
constexpr unsigned char kScrypt[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0xDA, 0x47, 0x04, 0x0B};

bool StartsWith(Oid oid, Oid family) {
    return oid.size() > family.size() && std::equal(family.begin(), family.end(), oid.begin());
}

bool Equals(Oid oid, Oid other) {
    return std::equal(oid.begin(), oid.end(), other.begin(), other.end());
}

// The password-based schemes an EncryptedPrivateKeyInfo may name.
bool IsPasswordScheme(Oid oid) {
    return StartsWith(oid, kPkcs5) || StartsWith(oid, kPkcs12Pbe) ||
           StartsWith(oid, kPkcs12OlderPbe);
}

// What stands for protection of its own wherever it appears outside a value the tool opens:
// password-based algorithms, encrypted contents, and nested bags, whose keys the tool would
// have to follow.
bool NamesProtection(Oid oid) {
    static constexpr std::array<Oid, 6> kWhole = {kSafeContentsBag,    kEnvelopedData,
                                                  kSignedAndEnveloped, kEncryptedData,
                                                  kAuthEnvelopedData,  kScrypt};
    return IsPasswordScheme(oid) ||
           std::any_of(kWhole.begin(), kWhole.end(), [&](Oid whole) { return Equals(oid, whole); });
}

Oid ContentOf(ber::Bytes bytes, const ber::Element& element) {
    return bytes.subspan(element.contentStart, element.contentLength);
}

// An EncryptedPrivateKeyInfo: an algorithm identifier of a password-based scheme, and octets.
bool LooksSealed(ber::Bytes bytes, const ber::Element& element) {
    if (!element.Is(ber::kUniversal, ber::kSequence) || !element.constructed) {
        return false;
    }
    const auto inside = ber::InsideOf(bytes, element);
    if (!inside || inside->children.size() != 2 ||
        !inside->children[1].Is(ber::kUniversal, ber::kOctetString)) {
        return false;
    }
    const auto algorithm = ber::InsideOf(bytes, inside->children[0]);
    return algorithm && inside->children[0].Is(ber::kUniversal, ber::kSequence) &&
           !algorithm->children.empty() &&
           algorithm->children[0].Is(ber::kUniversal, ber::kObjectIdentifier) &&
           IsPasswordScheme(ContentOf(bytes, algorithm->children[0]));
}

ossl::SigPtr DecodeSealed(ber::Bytes encoding) {
    const unsigned char* cursor = encoding.data();
    ossl::SigPtr sig(d2i_X509_SIG(nullptr, &cursor, static_cast<long>(encoding.size())));
    return sig && cursor == encoding.data() + encoding.size() ? std::move(sig) : nullptr;
}

std::optional<pbe::Params> ProtectionOf(ber::Bytes encoding) {
    const ossl::SigPtr sig = DecodeSealed(encoding);
    if (!sig) {
        return std::nullopt;
    }
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(sig.get(), &algorithm, nullptr);
    return pbe::Read(algorithm);
}

class Scanner {
public:
    // False where the bag is damaged.
    bool Walk(ber::Bytes bytes, const ber::Element& element, int depth) {
        if (depth > ber::kMaxDepth) {
            return false;
        }
        if (element.Is(ber::kUniversal, ber::kObjectIdentifier)) {
            const Oid oid = ContentOf(bytes, element);
            m_scan.unrenewable = m_scan.unrenewable || NamesProtection(oid);
            m_mentionsShroudedKey = m_mentionsShroudedKey || Equals(oid, kShroudedKeyBag);
            return true;
        }
        if (LooksSealed(bytes, element)) {
            return Take(bytes.subspan(element.start, element.end - element.start));
        }
        const bool octets = element.Is(ber::kUniversal, ber::kOctetString);
        if (!element.constructed && !octets) {
            return true;
        }
        const auto inside = ber::InsideOf(bytes, element);
        if (!inside) {
            // Plain data: octets that encode no elements, or contents that only look like an
            // encoding (a hash, a random serial) and do not read as one. Whatever is in them,
            // no reader could recognise protection there either.
            return true;
        }
        const ber::Bytes within =
            octets ? ber::Bytes(inside->octets.data(), inside->octets.size()) : bytes;
        for (std::size_t i = 0; i < inside->children.size(); ++i) {
            m_path.push_back(i);
            const bool sound = Walk(within, inside->children[i], depth + 1);
            m_path.pop_back();
            if (!sound) {
                return false;
            }
        }
        return true;
    }

    Scan Result() && {
        // A shrouded key, or a secret bag that says it holds one, without a value the tool
        // can open would keep it under the old PIN.
        if (m_mentionsShroudedKey && m_scan.values.empty()) {
            m_scan.unrenewable = true;
        }
        return std::move(m_scan);
    }

private:
    bool Take(ber::Bytes encoding) {
        auto protection = ProtectionOf(encoding);
        if (!protection) {
            m_scan.unrenewable = true;
            return true;
        }
        m_scan.values.push_back(
            {m_path, std::move(*protection), SecretBytes(encoding.data(), encoding.size())});
        return true;
    }

    Scan m_scan;
    std::vector<std::size_t> m_path;
    bool m_mentionsShroudedKey = false;
};

}  // namespace

std::optional<Scan> ScanBag(ber::Bytes bag) {
    const auto root = ber::ReadAt(bag, 0);
    if (!root || root->end != bag.size() || !root->Is(ber::kUniversal, ber::kSequence)) {
        return std::nullopt;
    }
    Scanner scanner;
    if (!scanner.Walk(bag, *root, 0)) {
        return std::nullopt;
    }
    return std::move(scanner).Result();
}

bool Plausible(const pbe::Plaintext& plain, bool privateKey) {
    if (privateKey) {
        const unsigned char* cursor = plain.data();
        // As OpenSSL reads a shrouded key: what follows the key is not looked at.
        const ossl::KeyInfoPtr key(
            d2i_PKCS8_PRIV_KEY_INFO(nullptr, &cursor, static_cast<long>(plain.size())));
        return key != nullptr;
    }
    const auto elements = ber::ReadAll(ber::Bytes(plain.data(), plain.size()));
    return elements && elements->size() == 1;
}

bool Open(ber::Bytes encoding, const ossl::Secret& password, pbe::Plaintext& plain) {
    const ossl::SigPtr sig = DecodeSealed(encoding);
    if (!sig) {
        return false;
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_get0(sig.get(), &algorithm, &data);
    return pbe::Decrypt(algorithm, data, password, plain);
}

SecretBytes Seal(const pbe::Params& protection, const pbe::Plaintext& plain,
                 const ossl::Secret& password) {
    pbe::Encrypted encrypted =
        pbe::EncryptBytes(protection, plain.data(), static_cast<long>(plain.size()), password);
    ossl::SigPtr sig(X509_SIG_new());
    if (!encrypted.data || !sig) {
        return {};
    }
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(sig.get(), &algorithm, &data);
    if (X509_ALGOR_copy(algorithm, encrypted.algorithm.get()) != 1 ||
        ASN1_STRING_copy(data, encrypted.data.get()) != 1) {
        return {};
    }
    return ossl::Der(sig.get(), ASN1_ITEM_rptr(X509_SIG));
}

}  // namespace sealed
