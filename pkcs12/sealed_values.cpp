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

// The encodings of password-based schemes' identifiers, as they begin: found in bytes that read
// as no structure, they give away a value the tool cannot reach.
constexpr std::array<std::array<unsigned char, 10>, 3> kSchemeIdentifiers = {{
    {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05},
    {0x06, 0x0A, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C},
    {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C},
}};

bool MentionsScheme(ber::Bytes bytes) {
    return std::any_of(kSchemeIdentifiers.begin(), kSchemeIdentifiers.end(), [&](const auto& id) {
        return std::search(bytes.begin(), bytes.end(), id.begin(), id.end()) != bytes.end();
    });
}

ossl::SigPtr DecodeSealed(ber::Bytes encoding) {
    const unsigned char* cursor = encoding.data();
    ossl::SigPtr sig(d2i_X509_SIG(nullptr, &cursor, static_cast<long>(encoding.size())));
    return sig && cursor == encoding.data() + encoding.size() ? std::move(sig) : nullptr;
}

// Reads a bag element by element, each at most once but for the ends of indefinite lengths,
// holding no more than the path to where it is: every read is taken from `budget`.
class Scanner {
public:
    explicit Scanner(ber::ReadBudget& budget) noexcept : m_budget(budget) {}

    // False where the bag cannot be read to its end: damaged, too deep, or beyond the budget.
    bool Walk(ber::Bytes bytes, const ber::Element& element, int depth) {
        if (depth > ber::kMaxDepth) {
            m_budget.tooDeep = true;
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
        if (element.Is(ber::kUniversal, ber::kOctetString)) {
            return WalkOctets(bytes, element, depth);
        }
        if (!element.constructed) {
            Search(ContentOf(bytes, element));
            return true;
        }
        return WalkChildren(bytes, element.contentStart,
                            element.contentStart + element.contentLength, depth);
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
    // The elements that fill bytes[from, to), each walked; numbered as ber::Replace counts them.
    bool WalkChildren(ber::Bytes bytes, std::size_t from, std::size_t to, int depth) {
        for (std::size_t offset = from, index = 0; offset < to; ++index) {
            const auto child = ber::ReadWithin(bytes, offset, to, &m_budget);
            if (!child) {
                return false;
            }
            m_path.push_back(index);
            const bool sound = Walk(bytes, *child, depth + 1);
            m_path.pop_back();
            if (!sound) {
                return false;
            }
            offset = child->end;
        }
        return true;
    }

    // Octets that encode elements are walked into. Others are plain data (a hash, a serial,
    // also one that only begins like an encoding); a scheme's identifier in them would be a
    // value no reader could reach, which the tool cannot renew.
    bool WalkOctets(ber::Bytes bytes, const ber::Element& element, int depth) {
        std::optional<SecretBytes> joined;  // a constructed OCTET STRING's pieces, put together
        ber::Bytes octets = ContentOf(bytes, element);
        if (element.constructed) {
            joined = ber::OctetsOf(bytes, element);
            if (!joined) {
                return false;
            }
            octets = ber::Bytes(joined->data(), joined->size());
        }
        const std::size_t values = m_scan.values.size();
        const bool unrenewable = m_scan.unrenewable, shroudedKey = m_mentionsShroudedKey;
        if (WalkChildren(octets, 0, octets.size(), depth)) {
            return true;
        }
        if (m_budget.failed()) {
            return false;
        }
        // Not elements after all: what the attempt found is forgotten.
        m_scan.values.erase(m_scan.values.begin() + static_cast<std::ptrdiff_t>(values),
                            m_scan.values.end());
        m_scan.unrenewable = unrenewable;
        m_mentionsShroudedKey = shroudedKey;
        Search(octets);
        return true;
    }

    void Search(ber::Bytes content) {
        m_scan.unrenewable = m_scan.unrenewable || MentionsScheme(content);
    }

    // An EncryptedPrivateKeyInfo: an algorithm identifier of a password-based scheme, and
    // octets, nothing more.
    bool LooksSealed(ber::Bytes bytes, const ber::Element& element) {
        if (!element.Is(ber::kUniversal, ber::kSequence) || !element.constructed) {
            return false;
        }
        const std::size_t end = element.contentStart + element.contentLength;
        const auto algorithm = ber::ReadWithin(bytes, element.contentStart, end, &m_budget);
        const auto data =
            algorithm ? ber::ReadWithin(bytes, algorithm->end, end, &m_budget) : std::nullopt;
        if (!data || data->end != end || !data->Is(ber::kUniversal, ber::kOctetString) ||
            !algorithm->Is(ber::kUniversal, ber::kSequence) || !algorithm->constructed) {
            return false;
        }
        const std::size_t algorithmEnd = algorithm->contentStart + algorithm->contentLength;
        const auto oid = ber::ReadWithin(bytes, algorithm->contentStart, algorithmEnd, &m_budget);
        return oid && oid->Is(ber::kUniversal, ber::kObjectIdentifier) &&
               IsPasswordScheme(ContentOf(bytes, *oid));
    }

    // A value under a scheme the tool renews is taken; one whose parameters no password opens
    // makes the bag damaged; one under a scheme it cannot write, unrenewable.
    bool Take(ber::Bytes encoding) {
        const ossl::SigPtr sig = DecodeSealed(encoding);
        if (!sig) {
            return false;
        }
        const X509_ALGOR* algorithm = nullptr;
        X509_SIG_get0(sig.get(), &algorithm, nullptr);
        auto protection = pbe::Read(algorithm);
        if (!protection) {
            m_scan.unrenewable = true;
            return !pbe::Broken(algorithm);
        }
        m_scan.values.push_back(
            {m_path, std::move(*protection), SecretBytes(encoding.data(), encoding.size())});
        return true;
    }

    ber::ReadBudget& m_budget;
    Scan m_scan;
    std::vector<std::size_t> m_path;
    bool m_mentionsShroudedKey = false;
};

}  // namespace

std::optional<Scan> ScanBag(ber::Bytes bag, ber::ReadBudget& budget) {
    const auto root = ber::ReadAt(bag, 0, &budget);
    if (!root || root->end != bag.size() || !root->Is(ber::kUniversal, ber::kSequence)) {
        return std::nullopt;
    }
    Scanner scanner(budget);
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
