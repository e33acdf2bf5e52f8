#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/file_api.h"
#include "platform/parallel.h"
#include "platform/pfx_store.h"

namespace {

ossl::SafeBagPtr Duplicate(const PKCS12_SAFEBAG* bag) {
    return ossl::SafeBagPtr(
        static_cast<PKCS12_SAFEBAG*>(ASN1_item_dup(ASN1_ITEM_rptr(PKCS12_SAFEBAG), bag)));
}

// A stack that only lends its bags: the store's own bags go out as they are, uncopied.
void FreeBagList(STACK_OF(PKCS12_SAFEBAG) * bags) noexcept {
    sk_PKCS12_SAFEBAG_free(bags);
}
using BagListPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), ossl::Deleter<FreeBagList>>;

// A copy of a shrouded key bag, its key encrypted afresh; the attributes stay as they are.
ossl::SafeBagPtr SealKey(const StoredBag& stored, const ossl::Secret& password) {
    ossl::SafeBagPtr bag = Duplicate(stored.bag.get());
    pbe::Encrypted sealed = pbe::Encrypt(*stored.protection, ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO),
                                         stored.key.get(), password, stored.nextSalt);
    if (!bag || !sealed.data) {
        return nullptr;
    }
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    // The bag owns its X509_SIG; it is changed in place so that nothing else about it changes.
    X509_SIG_getm(const_cast<X509_SIG*>(PKCS12_SAFEBAG_get0_pkcs8(bag.get())), &algorithm, &data);
    if (X509_ALGOR_copy(algorithm, sealed.algorithm.get()) != 1 ||
        ASN1_STRING_copy(data, sealed.data.get()) != 1) {
        return nullptr;
    }
    return bag;
}

// The bags of a part in their order, its keys as sealed anew (`sealedKeys`, by bag).
BagListPtr CollectBags(const StoredSafe& safe, const std::vector<ossl::SafeBagPtr>& sealedKeys) {
    BagListPtr bags(sk_PKCS12_SAFEBAG_new_null());
    if (!bags || sk_PKCS12_SAFEBAG_reserve(bags.get(), static_cast<int>(safe.bags.size())) != 1) {
        return nullptr;
    }
    for (size_t i = 0; i < safe.bags.size(); ++i) {
        // Encoding only reads the bags; OpenSSL's stacks just do not hold const ones.
        PKCS12_SAFEBAG* const bag = safe.bags[i].key ? sealedKeys[i].get() : safe.bags[i].bag.get();
        if (bag == nullptr || sk_PKCS12_SAFEBAG_push(bags.get(), bag) == 0) {
            return nullptr;
        }
    }
    return bags;
}

ossl::Pkcs7Ptr PackEncrypted(STACK_OF(PKCS12_SAFEBAG) * bags, const pbe::Params& protection,
                             const ossl::Secret& password, pbe::Salt salt,
                             pbe::Plaintext& encoding) {
    encoding = ossl::Der(bags, ASN1_ITEM_rptr(PKCS12_SAFEBAGS));
    if (encoding.empty()) {
        return nullptr;
    }
    pbe::Encrypted sealed = pbe::EncryptBytes(protection, encoding.data(),
                                              static_cast<long>(encoding.size()), password, salt);
    ossl::Pkcs7Ptr safe(PKCS7_new());
    if (!sealed.data || !safe || PKCS7_set_type(safe.get(), NID_pkcs7_encrypted) != 1 ||
        X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, sealed.algorithm.get()) != 1) {
        return nullptr;
    }
    ASN1_OCTET_STRING_free(safe->d.encrypted->enc_data->enc_data);
    safe->d.encrypted->enc_data->enc_data = sealed.data.release();
    return safe;
}

// A part as written, and into `encoding` its bags' encoding, for the check of what was written.
ossl::Pkcs7Ptr PackSafe(const StoredSafe& safe, const std::vector<ossl::SafeBagPtr>& sealedKeys,
                        const ossl::Secret& password, pbe::Plaintext& encoding) {
    const BagListPtr bags = CollectBags(safe, sealedKeys);
    if (!bags) {
        return nullptr;
    }
    if (safe.protection) {
        return PackEncrypted(bags.get(), *safe.protection, password, safe.nextSalt, encoding);
    }
    ossl::Pkcs7Ptr packed(PKCS12_pack_p7data(bags.get()));
    if (packed) {
        const ASN1_OCTET_STRING* const data = packed->d.data;
        encoding =
            SecretBytes(ASN1_STRING_get0_data(data), static_cast<size_t>(ASN1_STRING_length(data)));
    }
    return packed;
}

bool AddMac(PKCS12* p12, const MacParams& mac, const ossl::Secret& password) {
    if (mac.pbmac1) {
        return pbmac1::Set(p12, *mac.pbmac1, password, mac.nextSalt);
    }
    const ossl::DigestPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(mac.digestNid), nullptr));
    const int saltLength = pbe::SaltLengthFor(mac.saltLength);
    if (!mac.nextSalt.empty() && mac.nextSalt.size() != static_cast<size_t>(saltLength)) {
        return false;
    }
    // OpenSSL 3.0 takes the salt as non-const; it only copies it.
    auto* const salt = const_cast<unsigned char*>(
        mac.nextSalt.empty() ? pbe::FixedSaltOrNull(saltLength) : mac.nextSalt.data());
    return digest && PKCS12_set_mac(p12, password.data(), password.size(), salt, saltLength,
                                    static_cast<int>(mac.iterations), digest.get()) == 1;
}

// What the export derives, rehearsed on empty contents: the same calls with the same password,
// parameters and salt ask the KDF for the same keys, which the recording keeps.
void RehearseEncryption(const pbe::Params& protection, const ossl::Secret& password, pbe::Salt salt,
                        kdfmemo::Memo& into) {
    const kdfmemo::ScopedRecording recording(into);
    const ossl::SafeBagsPtr nothing(sk_PKCS12_SAFEBAG_new_null());
    if (nothing) {
        pbe::Encrypt(protection, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), nothing.get(), password, salt);
    }
}

void RehearseMac(const MacParams& mac, const ossl::Secret& password, kdfmemo::Memo& into) {
    const kdfmemo::ScopedRecording recording(into);
    const ossl::SafesPtr nothing(sk_PKCS7_new_null());
    const ossl::Pkcs12Ptr p12(
        nothing ? PKCS12_add_safes_ex(nothing.get(), NID_pkcs7_data, nullptr, nullptr) : nullptr);
    if (p12) {
        AddMac(p12.get(), mac, password);
    }
}

// Calls `visit` with the protection and the next salt of each encrypted part and of each
// shrouded key outside them whose key a KDF derives, which the memo can serve.
template <typename Visit>
void ForEachDerivableAhead(CertStore& store, const Visit& visit) {
    const auto consider = [&](const pbe::Params& protection, std::vector<unsigned char>& salt) {
        if (pbe::DerivedByKdf(protection)) {
            visit(protection, salt);
        }
    };
    for (StoredSafe& safe : store.safes) {
        if (safe.protection) {
            consider(*safe.protection, safe.nextSalt);
            continue;
        }
        for (StoredBag& bag : safe.bags) {
            if (bag.protection) {
                consider(*bag.protection, bag.nextSalt);
            }
        }
    }
}

// The MAC and what ForEachDerivableAhead visits.
size_t CountDerivableAhead(CertStore& store) {
    size_t count = store.mac ? 1 : 0;
    ForEachDerivableAhead(store, [&](const pbe::Params&, std::vector<unsigned char>&) { ++count; });
    return count;
}

// A salt for a derivation made ahead; false where none could be made.
bool ChooseSalt(std::vector<unsigned char>& salt, int length) {
    salt = pbe::NewSalt(length);
    return !salt.empty();
}

// What the export makes of one part: its keys sealed anew, then the part itself.
struct PackedSafe {
    std::vector<ossl::SafeBagPtr> sealedKeys;  // by bag; null where the bag holds no key
    ossl::Pkcs7Ptr packed;
    pbe::Plaintext encoding;
};

// What a derivation still costs the export: nothing when its key was derived ahead, which its
// chosen salt tells.
std::int64_t WorkLeft(const pbe::Params& protection, const std::vector<unsigned char>& nextSalt) {
    return nextSalt.empty() ? pbe::WorkOf(protection) : 0;
}

bool HoldsKeys(const StoredSafe& safe) {
    return std::any_of(safe.bags.begin(), safe.bags.end(),
                       [](const StoredBag& bag) { return bag.key != nullptr; });
}

// Every part under the new password. The keys and the encrypted parts without keys are
// encrypted at once, then the encrypted parts that hold keys, each job writing only its own
// slot; the parts without encryption need no derivation.
bool PackSafes(const CertStore& store, const ossl::Secret& password, STACK_OF(PKCS7) * safes,
               std::vector<pbe::Plaintext>& written) {
    std::vector<PackedSafe> packed(store.safes.size());
    std::vector<parallel::Job> first, second;
    for (size_t s = 0; s < store.safes.size(); ++s) {
        const StoredSafe& safe = store.safes[s];
        PackedSafe& out = packed[s];
        out.sealedKeys.resize(safe.bags.size());
        for (size_t b = 0; b < safe.bags.size(); ++b) {
            if (safe.bags[b].key) {
                first.push_back({WorkLeft(*safe.bags[b].protection, safe.bags[b].nextSalt),
                                 [bag = &safe.bags[b], sealed = &out.sealedKeys[b], &password] {
                                     *sealed = SealKey(*bag, password);
                                 }});
            }
        }
        if (safe.protection) {
            std::vector<parallel::Job>& wave = HoldsKeys(safe) ? second : first;
            wave.push_back(
                {WorkLeft(*safe.protection, safe.nextSalt), [part = &safe, made = &out, &password] {
                     made->packed = PackSafe(*part, made->sealedKeys, password, made->encoding);
                 }});
        }
    }
    parallel::RunCostliestFirst(first);
    parallel::RunCostliestFirst(second);
    for (size_t s = 0; s < store.safes.size(); ++s) {
        PackedSafe& out = packed[s];
        if (!store.safes[s].protection) {
            out.packed = PackSafe(store.safes[s], out.sealedKeys, password, out.encoding);
        }
        if (!out.packed || sk_PKCS7_push(safes, out.packed.get()) == 0) {
            return false;
        }
        out.packed.release();
    }
    written.clear();
    for (PackedSafe& out : packed) {
        written.push_back(std::move(out.encoding));
    }
    return true;
}

// The whole file under the new password, with the structure and protection of the imported
// one, in the standard password encoding; `written`: the encoding of each part's bags.
bool Encode(const CertStore& store, const ossl::Secret& password, SecretBytes& out,
            std::vector<pbe::Plaintext>& written) {
    ossl::SafesPtr safes(sk_PKCS7_new_null());
    if (!safes || !PackSafes(store, password, safes.get(), written)) {
        return false;
    }
    const ossl::Pkcs12Ptr p12(PKCS12_add_safes_ex(safes.get(), NID_pkcs7_data, nullptr, nullptr));
    if (!p12 || (store.mac && !AddMac(p12.get(), *store.mac, password))) {
        return false;
    }
    const int length = i2d_PKCS12(p12.get(), nullptr);
    if (length <= 0) {
        return false;
    }
    out = SecretBytes::Zeroed(static_cast<size_t>(length));
    unsigned char* cursor = out.data();
    return i2d_PKCS12(p12.get(), &cursor) == length;
}

// The keys derived ahead are served for the export under the password they were derived for,
// once; whatever else follows derives afresh.
bool EncodeWithPlan(CertStore& store, const ossl::Secret& password, SecretBytes& out,
                    std::vector<pbe::Plaintext>& written) {
    if (!store.plan || !(store.plan->password == password)) {
        DropPlan(store);
        return Encode(store, password, out, written);
    }
    bool encoded = false;
    {
        const kdfmemo::ScopedServing serving(store.plan->derived);
        encoded = Encode(store, password, out, written);
    }
    DropPlan(store);
    return encoded;
}

// Encodes once per password; the size query and the export that follows share the result.
bool PrepareExport(CertStore& store, Passwords passwords) {
    if (store.hasExport && store.exportPassword == passwords.utf8) {
        return true;
    }
    store.hasExport = false;
    SecretBytes encoding;
    std::vector<pbe::Plaintext> written;
    if (!EncodeWithPlan(store, passwords.utf8, encoding, written)) {
        return false;
    }
    // The store now is what was written.
    for (size_t s = 0; s < store.safes.size(); ++s) {
        store.safes[s].encoding = std::move(written[s]);
    }
    store.exportEncoding = std::move(encoding);
    store.exportPassword = std::move(passwords.utf8);
    store.hasExport = true;
    return true;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

void AddDerivationsAhead(CertStore& store, const ossl::Secret& password,
                         std::vector<kdfmemo::Memo>& derived, std::vector<parallel::Job>& jobs) {
    if (!kdfmemo::Available()) {
        return;
    }
    // One slot for each, made at once: the jobs hold on to them while they run.
    derived = std::vector<kdfmemo::Memo>(CountDerivableAhead(store));
    auto slot = derived.begin();
    if (store.mac && ChooseSalt(store.mac->nextSalt, store.mac->saltLength)) {
        const long blocks = store.mac->pbmac1 ? store.mac->pbmac1->blocks : 1;
        jobs.push_back({static_cast<std::int64_t>(store.mac->iterations) * blocks,
                        [mac = &*store.mac, &password, into = &*slot++] {
                            RehearseMac(*mac, password, *into);
                        }});
    }
    ForEachDerivableAhead(
        store, [&](const pbe::Params& protection, std::vector<unsigned char>& salt) {
            if (ChooseSalt(salt, protection.saltLength)) {
                jobs.push_back(
                    {pbe::WorkOf(protection), [&protection, &salt, &password, into = &*slot++] {
                         RehearseEncryption(protection, password, salt, *into);
                     }});
            }
        });
}

void DropPlan(CertStore& store) noexcept {
    store.plan.reset();
    if (store.mac) {
        store.mac->nextSalt.clear();
    }
    for (StoredSafe& safe : store.safes) {
        safe.nextSalt.clear();
        for (StoredBag& bag : safe.bags) {
            bag.nextSalt.clear();
        }
    }
}

BOOL PFXExportCertStoreEx(HCERTSTORE store, CRYPT_DATA_BLOB* pfx, LPCWSTR password,
                          void* /*reserved*/, DWORD flags) noexcept {
    // Exports without the private keys would silently drop them; this tool never asks for that.
    if (store == nullptr || pfx == nullptr || (flags & EXPORT_PRIVATE_KEYS) == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!store->exportable) {
        return Fail(NTE_BAD_KEY_STATE);
    }
    try {
        const ossl::ScopedContext context;
        if (!context.ok() || !PrepareExport(*store, PasswordsFrom(password))) {
            return Fail(NTE_FAIL);
        }
        const auto& encoding = store->exportEncoding;
        if (encoding.size() > 0xFFFFFFFEu) {
            return Fail(NTE_FAIL);
        }
        const auto size = static_cast<DWORD>(encoding.size());
        if (pfx->pbData != nullptr && pfx->cbData < size) {
            pfx->cbData = size;
            return Fail(ERROR_MORE_DATA);
        }
        if (pfx->pbData != nullptr) {
            std::memcpy(pfx->pbData, encoding.data(), size);
        }
        pfx->cbData = size;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    } catch (const std::bad_alloc&) {
        return Fail(NTE_NO_MEMORY);
    }
}
