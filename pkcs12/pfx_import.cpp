#include <openssl/objects.h>

#include <algorithm>
#include <functional>
#include <new>
#include <vector>

#include "pkcs12/ber.h"
#include "pkcs12/parallel.h"
#include "pkcs12/pfx_store.h"
#include "pkcs12/sealed_values.h"
#include "pkcs12/work_budget.h"
#include "platform/file_api.h"

namespace {

bool TooLarge(const CRYPT_DATA_BLOB* pfx) {
    return pfx != nullptr && pfx->cbData > kMaxPfxBytes;
}

// Decodes a PFX; the whole blob must be the one structure, nothing before or after it.
ossl::Pkcs12Ptr Decode(const CRYPT_DATA_BLOB* pfx) {
    if (pfx == nullptr || pfx->pbData == nullptr || pfx->cbData == 0 || TooLarge(pfx)) {
        return nullptr;
    }
    const unsigned char* cursor = pfx->pbData;
    ossl::Pkcs12Ptr p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(pfx->cbData)));
    if (p12 && cursor != pfx->pbData + pfx->cbData) {
        p12.reset();
    }
    return p12;
}

ber::Bytes BytesOf(const ASN1_OCTET_STRING* octets) {
    return {ASN1_STRING_get0_data(octets), static_cast<size_t>(ASN1_STRING_length(octets))};
}

// The octets of a PFX's authenticated safe, the ContentInfo of type data after its version; null
// where it has none (a PFX signed with a public key, which the import refuses).
std::optional<SecretBytes> AuthenticatedSafe(ber::Bytes pfx) {
    const auto root = ber::ReadAt(pfx, 0);
    const auto parts = root ? ber::InsideOf(pfx, *root) : std::nullopt;
    const auto info = parts && parts->children.size() >= 2 ? ber::InsideOf(pfx, parts->children[1])
                                                           : std::nullopt;
    const auto content = info && info->children.size() == 2 && info->children[1].constructed
                             ? ber::InsideOf(pfx, info->children[1])
                             : std::nullopt;
    return content && content->children.size() == 1 ? ber::OctetsOf(pfx, content->children[0])
                                                    : std::nullopt;
}

// Why an import failed, as the Windows error code.
struct ImportError {
    DWORD code;
};

std::optional<ImportError> Refused(DWORD code) {
    return code == ERROR_SUCCESS ? std::nullopt : std::optional<ImportError>(ImportError{code});
}

// The fewest iterations a key that was in clear is given, whatever the file declares.
constexpr long kMinimumIterations = 2048;

// A shrouded key bag made from the plain key bag `plain`, its attributes as they were, its key
// in `key`. Its encrypted content is a placeholder: the export encrypts the key afresh, as for
// every shrouded key.
std::optional<SecretBytes> ShroudedFrom(ber::Bytes plain, pbe::Plaintext& key) {
    const auto root = ber::ReadAt(plain, 0);
    const auto parts = root ? ber::InsideOf(plain, *root) : std::nullopt;
    if (!parts || parts->children.size() < 2 || parts->children.size() > 3) {
        return std::nullopt;
    }
    const auto value = ber::InsideOf(plain, parts->children[1]);
    if (!value || value->children.size() != 1 || !value->octets.empty()) {
        return std::nullopt;
    }
    const ber::Element& info = value->children[0];
    key = pbe::Plaintext(plain.data() + info.start, info.end - info.start);
    if (!sealed::Plausible(key, true)) {
        return std::nullopt;
    }
    static constexpr unsigned char kShroudedKeyBagId[] = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                          0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x02};
    static constexpr unsigned char kPlaceholder[] = {0xA0, 0x02, 0x30, 0x00};
    SecretBytes content;
    content.Append(kShroudedKeyBagId, sizeof kShroudedKeyBagId);
    content.Append(kPlaceholder, sizeof kPlaceholder);
    if (parts->children.size() == 3) {
        const ber::Element& attributes = parts->children[2];
        content.Append(plain.data() + attributes.start, attributes.end - attributes.start);
    }
    static constexpr unsigned char kSequence[] = {0x30};
    SecretBytes bag;
    ber::AppendElement(bag, kSequence, ber::Bytes(content.data(), content.size()));
    return bag;
}

// The largest iteration count the file declares (scrypt declares none).
long LargestIterations(const CertStore& store) {
    long largest = store.mac ? store.mac->iterations : 0;
    const auto consider = [&](const std::optional<pbe::Params>& protection) {
        if (protection && protection->scheme != pbe::Scheme::Scrypt) {
            largest = std::max(largest, protection->iterations);
        }
    };
    for (const StoredSafe& safe : store.safes) {
        consider(safe.protection);
        for (const StoredBag& bag : safe.bags) {
            for (const SealedValue& value : bag.sealed) {
                consider(value.protection);
            }
        }
    }
    return largest;
}

// Whether anything in the file checks the password: a MAC or an encrypted part or key.
bool HasProtection(const CertStore& store) {
    return store.mac ||
           std::any_of(store.safes.begin(), store.safes.end(), [](const StoredSafe& safe) {
               return safe.protection ||
                      std::any_of(safe.bags.begin(), safe.bags.end(),
                                  [](const StoredBag& bag) { return !bag.sealed.empty(); });
           });
}

// How the file's MAC is made: PBMAC1 or the PKCS#12 MAC. Null with the error where the MAC
// cannot be checked: damaged, or asking too much of the budget.
struct MacPlan {
    std::optional<MacParams> mac;
    DWORD error = ERROR_SUCCESS;
};

MacPlan PlanMac(const PKCS12* p12, pbe::WorkBudget& budget) {
    MacParams mac;
    if (pbmac1::Uses(p12)) {
        mac.pbmac1 = pbmac1::Read(p12);
        if (!mac.pbmac1) {
            return {std::nullopt, NTE_BAD_DATA};
        }
        mac.digestNid = NID_pbmac1;
        mac.iterations = mac.pbmac1->iterations;
        mac.saltLength = mac.pbmac1->saltLength;
    } else {
        const ASN1_OBJECT* digest = nullptr;
        const ASN1_OCTET_STRING* salt = nullptr;
        const ASN1_INTEGER* iterations = nullptr;
        const X509_ALGOR* algorithm = nullptr;
        PKCS12_get0_mac(nullptr, &algorithm, &salt, &iterations, p12);
        X509_ALGOR_get0(&digest, nullptr, nullptr, algorithm);
        mac.digestNid = OBJ_obj2nid(digest);
        mac.iterations = iterations == nullptr ? 1 : ASN1_INTEGER_get(iterations);
        mac.saltLength = salt == nullptr ? 0 : ASN1_STRING_length(salt);
    }
    const DWORD error = budget.ChargeMac(mac.iterations, mac.pbmac1 ? mac.pbmac1->blocks : 1);
    return error == ERROR_SUCCESS ? MacPlan{mac, ERROR_SUCCESS} : MacPlan{std::nullopt, error};
}

bool MacOpens(PKCS12* p12, const MacParams& mac, const ossl::Secret& password) {
    return mac.pbmac1 ? pbmac1::Verify(p12, *mac.pbmac1, password)
                      : PKCS12_verify_mac(p12, password.data(), password.size()) == 1;
}

// The bags of SafeContents (or the parts of an authenticated safe), counted from their headers
// alone (at most one beyond kMaxBags), so that a part of too many is refused before they are
// decoded. Null where they do not read; the reading that follows finds out why.
std::optional<long> CountBags(ber::Bytes contents) {
    const auto root = ber::ReadAt(contents, 0);
    if (!root || !root->constructed) {
        return std::nullopt;
    }
    const std::size_t end = root->contentStart + root->contentLength;
    long count = 0;
    for (std::size_t offset = root->contentStart; offset < end && count <= kMaxBags; ++count) {
        const auto bag = ber::ReadWithin(contents, offset, end, nullptr);
        if (!bag) {
            return std::nullopt;
        }
        offset = bag->end;
    }
    return count;
}

// What opening an encrypted part gave: its SafeContents, decrypted.
struct OpenedPart {
    bool opened = false;
    pbe::Plaintext encoding;
};

class Importer {
public:
    Importer(ber::Bytes pfx, PKCS12* p12, Passwords passwords)
        : m_pfx(pfx), m_p12(p12), m_passwords(std::move(passwords)) {}

    std::optional<ImportError> Run(CertStore& store) {
        // Every structure is read by the budget before OpenSSL decodes it.
        if (const auto parts = AuthenticatedSafe(m_pfx)) {
            const ber::Bytes contents(parts->data(), parts->size());
            if (auto error = ReadStructure(contents)) {
                return error;
            }
            if (auto error = Refused(m_budget.ChargeParts(CountBags(contents).value_or(0)))) {
                return error;
            }
        }
        ossl::SafesPtr safes(PKCS12_unpack_authsafes(m_p12));
        if (!safes) {
            return ImportError{CRYPT_E_BAD_ENCODE};
        }
        // Everything the file asks of the key derivations is checked before the first one.
        if (auto error = Plan(store, safes.get())) {
            return error;
        }
        if (auto error = OpenWhatThePlanFound(store, safes.get())) {
            return error;
        }
        if (auto error = OpenKeysOfEncryptedParts(store)) {
            return error;
        }
        // Only said of a file that opens: a damaged one is not blamed on its contents.
        if (m_unrenewable) {
            return ImportError{PINTOOL_E_CANNOT_RENEW};
        }
        if (auto error = ProtectWhatIsInClear(store)) {
            return error;
        }
        return std::nullopt;
    }

private:
    // The MAC opens first and alone, or in a file without one its first encrypted part or key:
    // a mistyped PIN is refused after that one derivation, however many the file asks for. The
    // other encrypted parts and keys outside them are then opened at once; what they gave is
    // taken in the file's order, so that the failure reported is the first in the file,
    // whichever thread met it first.
    std::optional<ImportError> OpenWhatThePlanFound(CertStore& store, STACK_OF(PKCS7) * safes) {
        std::vector<OpenedPart> parts(store.safes.size());
        std::vector<parallel::Job> jobs;
        std::function<bool()> first;
        if (store.mac) {
            first = [this, &store] { return VerifyMac(*store.mac); };
        }
        const auto add = [&](std::int64_t work, std::function<bool()> open) {
            if (!first) {
                first = std::move(open);
            } else {
                jobs.push_back({work, [open = std::move(open)] { open(); }});
            }
        };
        for (size_t i = 0; i < store.safes.size(); ++i) {
            StoredSafe& stored = store.safes[i];
            if (stored.protection) {
                PKCS7* const safe = sk_PKCS7_value(safes, static_cast<int>(i));
                add(pbe::WorkOf(*stored.protection), [this, opened = &parts[i], safe] {
                    *opened = OpenPart(safe);
                    return opened->opened;
                });
                continue;
            }
            for (StoredBag& bag : stored.bags) {
                for (SealedValue& value : bag.sealed) {
                    add(pbe::WorkOf(value.protection),
                        [this, sealed = &value] { return OpenSealed(*sealed); });
                }
            }
        }
        if (first && !first()) {
            return ImportError{ERROR_INVALID_PASSWORD};
        }
        m_passwordProven = true;
        parallel::RunCostliestFirst(jobs);
        for (size_t i = 0; i < store.safes.size(); ++i) {
            if (auto error = TakePart(store.safes[i], parts[i])) {
                return error;
            }
        }
        return std::nullopt;
    }

    // Once the parts are open, the sealed values in them; then every one must have opened.
    std::optional<ImportError> OpenKeysOfEncryptedParts(CertStore& store) {
        std::vector<parallel::Job> jobs;
        for (StoredSafe& safe : store.safes) {
            if (!safe.protection) {
                continue;
            }
            for (StoredBag& bag : safe.bags) {
                for (SealedValue& value : bag.sealed) {
                    jobs.push_back({pbe::WorkOf(value.protection),
                                    [this, sealed = &value] { OpenSealed(*sealed); }});
                }
            }
        }
        parallel::RunCostliestFirst(jobs);
        for (const StoredSafe& safe : store.safes) {
            for (const StoredBag& bag : safe.bags) {
                for (const SealedValue& value : bag.sealed) {
                    if (!value.opened) {
                        return Unopened();
                    }
                }
            }
        }
        return std::nullopt;
    }

    std::optional<ImportError> Plan(CertStore& store, STACK_OF(PKCS7) * safes) {
        if (PKCS12_mac_present(m_p12)) {
            MacPlan plan = PlanMac(m_p12, m_budget);
            if (auto error = Refused(plan.error)) {
                return error;
            }
            store.mac = std::move(plan.mac);
        }
        for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
            PKCS7* safe = sk_PKCS7_value(safes, i);
            StoredSafe& stored = store.safes.emplace_back();
            switch (OBJ_obj2nid(safe->type)) {
                case NID_pkcs7_data:
                    if (safe->d.data != nullptr &&
                        CountBags(BytesOf(safe->d.data)).value_or(0) > kMaxBags - m_bags) {
                        return ImportError{PINTOOL_E_TOO_MANY_BAGS};
                    }
                    if (auto error = TakeData(stored, safe)) {
                        return error;
                    }
                    break;
                case NID_pkcs7_encrypted:
                    if (safe->d.encrypted == nullptr || safe->d.encrypted->enc_data == nullptr) {
                        return ImportError{CRYPT_E_BAD_ENCODE};
                    }
                    stored.protection = pbe::Read(safe->d.encrypted->enc_data->algorithm);
                    if (!stored.protection) {
                        return ImportError{pbe::Broken(safe->d.encrypted->enc_data->algorithm)
                                               ? PINTOOL_E_DAMAGED
                                               : NTE_BAD_ALGID};
                    }
                    if (auto error = Refused(m_budget.Charge(*stored.protection))) {
                        return error;
                    }
                    break;
                default:  // public-key protected parts cannot be opened with a password
                    return ImportError{NTE_BAD_ALGID};
            }
        }
        return std::nullopt;
    }

    // The bags of a part in clear, as PKCS12_unpack_p7data decoded them from its octets.
    std::optional<ImportError> TakeData(StoredSafe& stored, const PKCS7* safe) {
        if (safe->d.data == nullptr) {
            return ImportError{CRYPT_E_BAD_ENCODE};
        }
        const ber::Bytes contents = BytesOf(safe->d.data);
        if (auto error = ReadStructure(contents)) {
            return error;
        }
        ossl::SafeBagsPtr bags(PKCS12_unpack_p7data(const_cast<PKCS7*>(safe)));
        if (!bags) {
            return ImportError{PINTOOL_E_DAMAGED};
        }
        return TakeBags(stored, contents, bags.get());
    }

    // Takes over the bags of one part from its SafeContents `contents`, which OpenSSL decoded
    // as `decoded`, counting them against the limit, and finds their sealed values.
    std::optional<ImportError> TakeBags(StoredSafe& stored, ber::Bytes contents,
                                        const STACK_OF(PKCS12_SAFEBAG) * decoded) {
        const int count = sk_PKCS12_SAFEBAG_num(decoded);
        if (count > kMaxBags - m_bags) {
            return ImportError{PINTOOL_E_TOO_MANY_BAGS};
        }
        m_bags += count;
        const auto root = ber::ReadAt(contents, 0);
        const auto inside = root && root->end == contents.size() && root->constructed
                                ? ber::InsideOf(contents, *root)
                                : std::nullopt;
        if (!inside || inside->children.size() != static_cast<size_t>(count)) {
            return ImportError{PINTOOL_E_DAMAGED};
        }
        stored.bags.reserve(stored.bags.size() + static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const ber::Element& element = inside->children[static_cast<size_t>(i)];
            StoredBag& bag = stored.bags.emplace_back();
            bag.encoding =
                SecretBytes(contents.data() + element.start, element.end - element.start);
            bag.type = PKCS12_SAFEBAG_get_nid(sk_PKCS12_SAFEBAG_value(decoded, i));
            if (auto error = FindSealedValues(bag)) {
                return error;
            }
        }
        return std::nullopt;
    }

    // Reads how each value of the bag encrypted under the password is protected.
    std::optional<ImportError> FindSealedValues(StoredBag& bag) {
        ber::ReadBudget read = m_budget.ForReading();
        auto scan = sealed::ScanBag(ber::Bytes(bag.encoding.data(), bag.encoding.size()), read);
        if (auto error = Refused(m_budget.Charge(read))) {
            return error;
        }
        if (!scan) {
            return ImportError{PINTOOL_E_DAMAGED};
        }
        m_unrenewable = m_unrenewable || scan->unrenewable;
        for (sealed::Found& found : scan->values) {
            if (auto error = Refused(m_budget.Charge(found.protection))) {
                return error;
            }
            SealedValue& value = bag.sealed.emplace_back();
            value.privateKey =
                bag.type == NID_pkcs8ShroudedKeyBag && found.path == std::vector<std::size_t>{1, 0};
            value.path = std::move(found.path);
            value.protection = std::move(found.protection);
            value.encoding = std::move(found.encoding);
        }
        return std::nullopt;
    }

    // Whether `opens` succeeds with the password in the standard encoding or, for a
    // password beyond ASCII, in the older one.
    template <typename Attempt>
    bool FirstThatOpens(const Attempt& opens) const {
        return opens(m_passwords.utf8) ||
               (!SameSecret(m_passwords.widened, m_passwords.utf8) && opens(m_passwords.widened));
    }

    bool VerifyMac(const MacParams& mac) const {
        return FirstThatOpens(
            [&](const ossl::Secret& password) { return MacOpens(m_p12, mac, password); });
    }

    // The bags of an encrypted part and their encoding, or null bags where it does not open.
    // Only reads `safe`, which no other job touches.
    OpenedPart OpenPart(const PKCS7* safe) const {
        const X509_ALGOR* const algorithm = safe->d.encrypted->enc_data->algorithm;
        const ASN1_OCTET_STRING* const data = safe->d.encrypted->enc_data->enc_data;
        OpenedPart part;
        part.opened = FirstThatOpens([&](const ossl::Secret& password) {
            if (!pbe::Decrypt(algorithm, data, password, part.encoding)) {
                return false;
            }
            // SafeContents, as a wrong key (which may pass the padding check) does not give.
            const ber::Bytes plain(part.encoding.data(), part.encoding.size());
            const auto root = ber::ReadAt(plain, 0);
            return root && root->Is(ber::kUniversal, ber::kSequence) && root->constructed &&
                   root->end == plain.size();
        });
        if (!part.opened) {
            part.encoding.Clear();
        }
        return part;
    }

    // Decoded one part at a time, after the budget has read it.
    std::optional<ImportError> TakePart(StoredSafe& stored, OpenedPart& opened) {
        if (!stored.protection) {
            return std::nullopt;
        }
        if (!opened.opened) {
            return Unopened();
        }
        const ber::Bytes contents(opened.encoding.data(), opened.encoding.size());
        if (CountBags(contents).value_or(0) > kMaxBags - m_bags) {
            return ImportError{PINTOOL_E_TOO_MANY_BAGS};
        }
        if (auto error = ReadStructure(contents)) {
            return error;
        }
        const unsigned char* cursor = contents.data();
        const ossl::SafeBagsPtr bags(reinterpret_cast<STACK_OF(PKCS12_SAFEBAG)*>(
            ASN1_item_d2i(nullptr, &cursor, static_cast<long>(contents.size()),
                          ASN1_ITEM_rptr(PKCS12_SAFEBAGS))));
        if (!bags) {
            return ImportError{PINTOOL_E_DAMAGED};
        }
        auto error = TakeBags(stored, contents, bags.get());
        opened.encoding.Clear();
        return error;
    }

    // What a value or part the password did not open says: a wrong password, unless the
    // password has opened the MAC or the file's first value already; then it is damage.
    std::optional<ImportError> Unopened() const {
        return ImportError{m_passwordProven ? PINTOOL_E_DAMAGED : ERROR_INVALID_PASSWORD};
    }

    // Reads `bytes` (one element) with the budget, with all that is constructed in it, before a
    // decoder makes objects of it.
    std::optional<ImportError> ReadStructure(ber::Bytes bytes) {
        ber::ReadBudget read = m_budget.ForReading();
        const bool sound = ber::ReadTree(bytes, read);
        if (auto error = Refused(m_budget.Charge(read))) {
            return error;
        }
        return sound ? std::nullopt : std::optional<ImportError>(ImportError{PINTOOL_E_DAMAGED});
    }

    // Leaves the value unopened where the password does not open it; whether it opened.
    bool OpenSealed(SealedValue& value) const {
        const ber::Bytes encoding(value.encoding.data(), value.encoding.size());
        value.opened = FirstThatOpens([&](const ossl::Secret& password) {
            return sealed::Open(encoding, password, value.plain) &&
                   sealed::Plausible(value.plain, value.privateKey);
        });
        if (value.opened) {
            value.encoding.Clear();  // the export seals it anew
        } else {
            value.plain.Clear();
        }
        return value.opened;
    }

    // Keys in clear in unencrypted parts become shrouded keys, and a file with no protection
    // at all gets a MAC, so that after a change nothing opens without the new PIN. Keys in
    // encrypted parts are encrypted under the PIN already and stay as they are.
    std::optional<ImportError> ProtectWhatIsInClear(CertStore& store) {
        const bool hadProtection = HasProtection(store);
        const long iterations = std::max(kMinimumIterations, LargestIterations(store));
        const pbe::Params protection = pbe::DefaultKeyProtection(iterations);
        for (StoredSafe& safe : store.safes) {
            for (StoredBag& bag : safe.bags) {
                if (safe.protection || bag.type != NID_keyBag) {
                    continue;
                }
                // The export and the check of the written file derive its key too.
                if (auto error = Refused(m_budget.Charge(protection))) {
                    return error;
                }
                if (auto error = Shroud(bag, protection)) {
                    return error;
                }
            }
        }
        if (!hadProtection) {
            if (auto error = Refused(m_budget.ChargeMac(iterations))) {
                return error;
            }
            store.mac = MacParams{NID_sha256, iterations, 8, std::nullopt};
        }
        return std::nullopt;
    }

    static std::optional<ImportError> Shroud(StoredBag& bag, const pbe::Params& protection) {
        SealedValue value;
        auto shrouded =
            ShroudedFrom(ber::Bytes(bag.encoding.data(), bag.encoding.size()), value.plain);
        if (!shrouded) {
            return ImportError{CRYPT_E_BAD_ENCODE};
        }
        value.path = {1, 0};
        value.protection = protection;
        value.privateKey = true;
        value.opened = true;
        bag.encoding = std::move(*shrouded);  // the plain key's bytes are wiped
        bag.type = NID_pkcs8ShroudedKeyBag;
        bag.sealed.push_back(std::move(value));
        return std::nullopt;
    }

    ber::Bytes m_pfx;  // as decoded into m_p12
    PKCS12* m_p12;
    Passwords m_passwords;
    pbe::WorkBudget m_budget;
    long m_bags = 0;
    bool m_unrenewable = false;     // something the export could not put under a new password
    bool m_passwordProven = false;  // it opened the MAC, or the file's first value
};

}  // namespace

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) noexcept {
    const ossl::ScopedContext context;
    return Decode(pfx) ? TRUE : FALSE;
}

namespace {

HCERTSTORE Import(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags,
                  ossl::Library library = ossl::Library::Tool) noexcept {
    try {
        const ossl::ScopedContext context(library);
        if (!context.ok()) {
            SetLastError(NTE_FAIL);
            return nullptr;
        }
        if (TooLarge(pfx)) {
            SetLastError(PINTOOL_E_FILE_TOO_LARGE);
            return nullptr;
        }
        const ossl::Pkcs12Ptr p12 = Decode(pfx);
        if (!p12) {
            SetLastError(CRYPT_E_BAD_ENCODE);
            return nullptr;
        }
        auto store = std::make_unique<CertStore>();
        store->exportable = (flags & CRYPT_EXPORTABLE) != 0;
        const ber::Bytes bytes(pfx->pbData, pfx->cbData);
        if (const auto error = Importer(bytes, p12.get(), PasswordsFrom(password)).Run(*store)) {
            SetLastError(error->code);
            return nullptr;
        }
        SetLastError(ERROR_SUCCESS);
        return store.release();
    } catch (const std::bad_alloc&) {
        SetLastError(NTE_NO_MEMORY);
        return nullptr;
    }
}

}  // namespace

HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) noexcept {
    return Import(pfx, password, flags);
}

HCERTSTORE PFXImportCertStoreForCheck(CRYPT_DATA_BLOB* pfx, LPCWSTR password,
                                      DWORD flags) noexcept {
    return Import(pfx, password, flags, ossl::Library::OpenSsl);
}
