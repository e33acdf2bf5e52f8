#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "pkcs12/ber.h"
#include "pkcs12/limits.h"
#include "pkcs12/parallel.h"
#include "pkcs12/pfx_store.h"
#include "pkcs12/sealed_values.h"
#include "pkcs12/seams.h"
#include "platform/file_api.h"

namespace {

// A bag as an export writes it: its bytes as they are, but for its sealed values, each
// encrypted anew under `password`. Empty on failure.
SecretBytes Reseal(const StoredBag& bag, const ossl::Secret& password) {
    std::vector<SecretBytes> fresh;
    std::vector<ber::Replacement> replacements;
    fresh.reserve(bag.sealed.size());
    for (const SealedValue& value : bag.sealed) {
        const SecretBytes& sealed =
            fresh.emplace_back(sealed::Seal(value.protection, value.plain, password));
        if (sealed.empty()) {
            return {};
        }
        replacements.push_back({value.path, ber::Bytes(sealed.data(), sealed.size())});
    }
    // In one pass over the bag, however many values it holds.
    auto replaced =
        ber::Replace(ber::Bytes(bag.encoding.data(), bag.encoding.size()), replacements);
    return replaced ? std::move(*replaced) : SecretBytes();
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
                             const ossl::Secret& password) {
    pbe::Encrypted sealed = pbe::EncryptBytes(protection, contents.data(),
                                              static_cast<long>(contents.size()), password);
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
    return safe.protection ? PackEncrypted(contents, *safe.protection, password)
                           : PackData(contents);
}

bool AddMac(PKCS12* p12, const MacParams& mac, const ossl::Secret& password) {
    if (mac.pbmac1) {
        return pbmac1::Set(p12, *mac.pbmac1, password);
    }
    const ossl::DigestPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(mac.digestNid), nullptr));
    const int saltLength = pbe::SaltLengthFor(mac.saltLength);
    // OpenSSL 3.0 takes the salt as non-const; it only copies it.
    auto* const salt = const_cast<unsigned char*>(engine_seams::ChosenSaltOrIv(saltLength));
    return digest && PKCS12_set_mac(p12, password.data(), password.size(), salt, saltLength,
                                    static_cast<int>(mac.iterations), digest.get()) == 1;
}

// What the export makes of one part: its bags with sealed values, then the part itself.
struct PackedSafe {
    std::vector<SecretBytes> resealed;  // by bag; empty where the bag holds no sealed value
    ossl::Pkcs7Ptr packed;
};

// What the derivations of a bag's sealed values cost.
std::int64_t WorkOf(const StoredBag& bag) {
    std::int64_t work = 0;
    for (const SealedValue& value : bag.sealed) {
        work += pbe::WorkOf(value.protection);
    }
    return work;
}

bool HoldsSealedValues(const StoredSafe& safe) {
    return std::any_of(safe.bags.begin(), safe.bags.end(),
                       [](const StoredBag& bag) { return !bag.sealed.empty(); });
}

// Every part under the new password. The bags with sealed values and the encrypted parts
// without them are encrypted at once, then the encrypted parts that hold them, each job
// writing only its own slot; the parts without encryption need no derivation. `resealed`:
// each part's bags as written, where they hold sealed values.
bool PackSafes(const CertStore& store, const ossl::Secret& password, STACK_OF(PKCS7) * safes,
               std::vector<std::vector<SecretBytes>>& resealed) {
    std::vector<PackedSafe> packed(store.safes.size());
    std::vector<parallel::Job> first, second;
    for (size_t s = 0; s < store.safes.size(); ++s) {
        const StoredSafe& safe = store.safes[s];
        PackedSafe& out = packed[s];
        out.resealed.resize(safe.bags.size());
        for (size_t b = 0; b < safe.bags.size(); ++b) {
            if (!safe.bags[b].sealed.empty()) {
                first.push_back(
                    {WorkOf(safe.bags[b]), [bag = &safe.bags[b], into = &out.resealed[b],
                                            &password] { *into = Reseal(*bag, password); }});
            }
        }
        if (safe.protection) {
            std::vector<parallel::Job>& wave = HoldsSealedValues(safe) ? second : first;
            wave.push_back({pbe::WorkOf(*safe.protection), [part = &safe, made = &out, &password] {
                                made->packed = PackSafe(*part, made->resealed, password);
                            }});
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
bool Encode(const CertStore& store, const ossl::Secret& password, SecretBytes& out,
            std::vector<std::vector<SecretBytes>>& resealed) {
    ossl::SafesPtr safes(sk_PKCS7_new_null());
    if (!safes || !PackSafes(store, password, safes.get(), resealed)) {
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

// Encodes once per password; the size query and the export that follows share the result.
bool PrepareExport(CertStore& store, Passwords passwords) {
    if (store.hasExport && SameSecret(store.exportPassword, passwords.utf8)) {
        return true;
    }
    store.hasExport = false;
    SecretBytes encoding;
    std::vector<std::vector<SecretBytes>> resealed;
    if (!Encode(store, passwords.utf8, encoding, resealed)) {
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
        // A file the tool would refuse to read again is not written.
        if (encoding.size() > kMaxPfxBytes) {
            return Fail(PINTOOL_E_OUTPUT_TOO_LARGE);
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
