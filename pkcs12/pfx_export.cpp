#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

#include "pkcs12/ber.h"
#include "pkcs12/kdf_provider.h"
#include "pkcs12/parallel.h"
#include "pkcs12/pfx_store.h"
#include "pkcs12/sealed_values.h"
#include "pkcs12/seams.h"
#include "platform/file_api.h"

namespace {

// A bag as an export writes it: its bytes as they are, but for its sealed values, each
// encrypted anew under `password`. Empty on failure.
SecretBytes Reseal(const StoredBag& bag, const ossl::Secret& password) {
    SecretBytes encoding(bag.encoding.data(), bag.encoding.size());
    for (const SealedValue& value : bag.sealed) {
        const SecretBytes fresh =
            sealed::Seal(value.protection, value.plain, password, value.nextSalt);
        auto replaced = fresh.empty()
                            ? std::nullopt
                            : ber::Replace(ber::Bytes(encoding.data(), encoding.size()), value.path,
                                           ber::Bytes(fresh.data(), fresh.size()));
        if (!replaced) {
            return {};
        }
        encoding = std::move(*replaced);
    }
    return encoding;
}

// The SafeContents of a part: its bags in their order, those with sealed values as resealed
// (`resealed`, by bag), the others as they are.
pbe::Plaintext Contents(const StoredSafe& safe, const std::vector<SecretBytes>& resealed) {
    const auto written = [&](size_t i) -> const SecretBytes& {
        return safe.bags[i].sealed.empty() ? safe.bags[i].encoding : resealed[i];
    };
    size_t length = 0;
    for (size_t i = 0; i < safe.bags.size(); ++i) {
        if (written(i).empty()) {
            return {};
        }
        length += written(i).size();
    }
    SecretBytes bags;
    bags.Reserve(length);
    for (size_t i = 0; i < safe.bags.size(); ++i) {
        bags.Append(written(i).data(), written(i).size());
    }
    static constexpr unsigned char kSequence[] = {0x30};
    pbe::Plaintext contents;
    ber::AppendElement(contents, kSequence, ber::Bytes(bags.data(), bags.size()));
    return contents;
}

ossl::Pkcs7Ptr PackEncrypted(const pbe::Plaintext& contents, const pbe::Params& protection,
                             const ossl::Secret& password, pbe::Salt salt) {
    pbe::Encrypted sealed = pbe::EncryptBytes(protection, contents.data(),
                                              static_cast<long>(contents.size()), password, salt);
    ossl::Pkcs7Ptr safe(PKCS7_new());
    if (!sealed.data || !safe || PKCS7_set_type(safe.get(), NID_pkcs7_encrypted) != 1 ||
        X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, sealed.algorithm.get()) != 1) {
        return nullptr;
    }
    ASN1_OCTET_STRING_free(safe->d.encrypted->enc_data->enc_data);
    safe->d.encrypted->enc_data->enc_data = sealed.data.release();
    return safe;
}

ossl::Pkcs7Ptr PackData(const pbe::Plaintext& contents) {
    ossl::Pkcs7Ptr safe(PKCS7_new());
    if (!safe || PKCS7_set_type(safe.get(), NID_pkcs7_data) != 1 || safe->d.data == nullptr ||
        ASN1_OCTET_STRING_set(safe->d.data, contents.data(), static_cast<int>(contents.size())) !=
            1) {
        return nullptr;
    }
    return safe;
}

// A part as written.
ossl::Pkcs7Ptr PackSafe(const StoredSafe& safe, const std::vector<SecretBytes>& resealed,
                        const ossl::Secret& password) {
    const pbe::Plaintext contents = Contents(safe, resealed);
    if (contents.empty() || contents.size() > static_cast<size_t>(INT_MAX)) {
        return nullptr;
    }
    return safe.protection ? PackEncrypted(contents, *safe.protection, password, safe.nextSalt)
                           : PackData(contents);
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
        mac.nextSalt.empty() ? engine_seams::ChosenSaltOrIv(saltLength) : mac.nextSalt.data());
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

// The blocks the MAC's key takes: PBMAC1's PBKDF2 may make more than one.
long MacBlocks(const MacParams& mac) {
    return mac.pbmac1 ? mac.pbmac1->blocks : 1;
}

// Calls `visit` with the protection and the next salt of each encrypted part and of each
// sealed value outside them whose key a KDF derives, which the memo can serve.
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
            for (SealedValue& value : bag.sealed) {
                consider(value.protection, value.nextSalt);
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

// Charges `budget` with the work of what is derivable ahead: all of it where it fits, otherwise
// nothing.
bool ChargeAhead(CertStore& store, pbe::WorkBudget& budget) {
    pbe::WorkBudget charged = budget;
    bool fits = !store.mac ||
                charged.ChargeMac(store.mac->iterations, MacBlocks(*store.mac)) == ERROR_SUCCESS;
    ForEachDerivableAhead(store, [&](const pbe::Params& protection, std::vector<unsigned char>&) {
        fits = fits && charged.Charge(protection) == ERROR_SUCCESS;
    });
    if (fits) {
        budget = charged;
    }
    return fits;
}

// A salt for a derivation made ahead; false where none could be made.
bool ChooseSalt(std::vector<unsigned char>& salt, int length) {
    salt = pbe::NewSalt(length);
    return !salt.empty();
}

// What the export makes of one part: its bags with sealed values, then the part itself.
struct PackedSafe {
    std::vector<SecretBytes> resealed;  // by bag; empty where the bag holds no sealed value
    ossl::Pkcs7Ptr packed;
};

// What a derivation still costs the export: nothing when its key was derived ahead, which its
// chosen salt tells.
std::int64_t WorkLeft(const pbe::Params& protection, const std::vector<unsigned char>& nextSalt) {
    return nextSalt.empty() ? pbe::WorkOf(protection) : 0;
}

std::int64_t WorkLeft(const StoredBag& bag) {
    std::int64_t work = 0;
    for (const SealedValue& value : bag.sealed) {
        work += WorkLeft(value.protection, value.nextSalt);
    }
    return work;
}

// `run`, served the keys derived ahead on whichever thread runs it: serving is each thread's
// own, so that no other export running at the same time is served from `ahead`.
std::function<void()> ServedFrom(kdfmemo::Memo* ahead, std::function<void()> run) {
    if (ahead == nullptr) {
        return run;
    }
    return [ahead, run = std::move(run)] {
        const kdfmemo::ScopedServing serving(*ahead);
        run();
    };
}

bool HoldsSealedValues(const StoredSafe& safe) {
    return std::any_of(safe.bags.begin(), safe.bags.end(),
                       [](const StoredBag& bag) { return !bag.sealed.empty(); });
}

// Every part under the new password. The bags with sealed values and the encrypted parts
// without them are encrypted at once, then the encrypted parts that hold them, each job
// writing only its own slot; the parts without encryption need no derivation. `resealed`:
// each part's bags as written, where they hold sealed values; `ahead`: what was derived ahead
// for this export, if anything.
bool PackSafes(const CertStore& store, const ossl::Secret& password, kdfmemo::Memo* ahead,
               STACK_OF(PKCS7) * safes, std::vector<std::vector<SecretBytes>>& resealed) {
    std::vector<PackedSafe> packed(store.safes.size());
    std::vector<parallel::Job> first, second;
    for (size_t s = 0; s < store.safes.size(); ++s) {
        const StoredSafe& safe = store.safes[s];
        PackedSafe& out = packed[s];
        out.resealed.resize(safe.bags.size());
        for (size_t b = 0; b < safe.bags.size(); ++b) {
            if (!safe.bags[b].sealed.empty()) {
                first.push_back(
                    {WorkLeft(safe.bags[b]),
                     ServedFrom(ahead, [bag = &safe.bags[b], into = &out.resealed[b], &password] {
                         *into = Reseal(*bag, password);
                     })});
            }
        }
        if (safe.protection) {
            std::vector<parallel::Job>& wave = HoldsSealedValues(safe) ? second : first;
            wave.push_back({WorkLeft(*safe.protection, safe.nextSalt),
                            ServedFrom(ahead, [part = &safe, made = &out, &password] {
                                made->packed = PackSafe(*part, made->resealed, password);
                            })});
        }
    }
    parallel::RunCostliestFirst(first);
    parallel::RunCostliestFirst(second);
    for (size_t s = 0; s < store.safes.size(); ++s) {
        PackedSafe& out = packed[s];
        if (!store.safes[s].protection) {
            out.packed = PackSafe(store.safes[s], out.resealed, password);
        }
        if (!out.packed || sk_PKCS7_push(safes, out.packed.get()) == 0) {
            return false;
        }
        out.packed.release();
    }
    resealed.clear();
    for (PackedSafe& out : packed) {
        resealed.push_back(std::move(out.resealed));
    }
    return true;
}

// The whole file under the new password, with the structure and protection of the imported
// one, in the standard password encoding; `resealed`: the bags with sealed values as written.
// The keys `ahead` holds are served to the derivations, on the calling thread as on the others.
bool Encode(const CertStore& store, const ossl::Secret& password, kdfmemo::Memo* ahead,
            SecretBytes& out, std::vector<std::vector<SecretBytes>>& resealed) {
    std::optional<kdfmemo::ScopedServing> serving;
    if (ahead != nullptr) {
        serving.emplace(*ahead);
    }
    ossl::SafesPtr safes(sk_PKCS7_new_null());
    if (!safes || !PackSafes(store, password, ahead, safes.get(), resealed)) {
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
                    std::vector<std::vector<SecretBytes>>& resealed) {
    if (!store.plan || !SameSecret(store.plan->password, password)) {
        DropPlan(store);
        return Encode(store, password, nullptr, out, resealed);
    }
    const bool encoded = Encode(store, password, &store.plan->derived, out, resealed);
    DropPlan(store);
    return encoded;
}

// Encodes once per password; the size query and the export that follows share the result.
bool PrepareExport(CertStore& store, Passwords passwords) {
    if (store.hasExport && SameSecret(store.exportPassword, passwords.utf8)) {
        return true;
    }
    store.hasExport = false;
    SecretBytes encoding;
    std::vector<std::vector<SecretBytes>> resealed;
    if (!EncodeWithPlan(store, passwords.utf8, encoding, resealed)) {
        return false;
    }
    // The store now is what was written.
    for (size_t s = 0; s < store.safes.size(); ++s) {
        for (size_t b = 0; b < store.safes[s].bags.size(); ++b) {
            if (!store.safes[s].bags[b].sealed.empty()) {
                store.safes[s].bags[b].encoding = std::move(resealed[s][b]);
            }
        }
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

void AddDerivationsAhead(CertStore& store, const ossl::Secret& password, pbe::WorkBudget& budget,
                         std::vector<kdfmemo::Memo>& derived, std::vector<parallel::Job>& jobs) {
    if (!kdfprovider::Available() || !ChargeAhead(store, budget)) {
        return;
    }
    // One slot for each, made at once: the jobs hold on to them while they run.
    derived = std::vector<kdfmemo::Memo>(CountDerivableAhead(store));
    auto slot = derived.begin();
    if (store.mac && ChooseSalt(store.mac->nextSalt, store.mac->saltLength)) {
        jobs.push_back({static_cast<std::int64_t>(store.mac->iterations) * MacBlocks(*store.mac),
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
            for (SealedValue& value : bag.sealed) {
                value.nextSalt.clear();
            }
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
