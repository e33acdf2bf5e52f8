#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstring>
#include <new>

#include "platform/file_api.h"
#include "platform/pfx_store.h"

namespace {

ossl::SafeBagPtr Duplicate(const PKCS12_SAFEBAG* bag) {
    return ossl::SafeBagPtr(
        static_cast<PKCS12_SAFEBAG*>(ASN1_item_dup(ASN1_ITEM_rptr(PKCS12_SAFEBAG), bag)));
}

// A copy of a shrouded key bag, its key encrypted afresh; the attributes stay as they are.
ossl::SafeBagPtr SealKey(const StoredBag& stored, const ossl::Secret& password) {
    ossl::SafeBagPtr bag = Duplicate(stored.bag.get());
    pbe::Encrypted sealed = pbe::Encrypt(*stored.protection, ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO),
                                         stored.key.get(), password);
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

ossl::SafeBagsPtr CollectBags(const StoredSafe& safe, const ossl::Secret& password) {
    ossl::SafeBagsPtr bags(sk_PKCS12_SAFEBAG_new_null());
    if (!bags) {
        return nullptr;
    }
    for (const StoredBag& stored : safe.bags) {
        ossl::SafeBagPtr bag = stored.key ? SealKey(stored, password) : Duplicate(stored.bag.get());
        if (!bag || sk_PKCS12_SAFEBAG_push(bags.get(), bag.get()) == 0) {
            return nullptr;
        }
        bag.release();  // now owned by the stack
    }
    return bags;
}

ossl::Pkcs7Ptr PackEncrypted(STACK_OF(PKCS12_SAFEBAG) * bags, const pbe::Params& protection,
                             const ossl::Secret& password) {
    pbe::Encrypted sealed =
        pbe::Encrypt(protection, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), bags, password);
    ossl::Pkcs7Ptr safe(PKCS7_new());
    if (!sealed.data || !safe || PKCS7_set_type(safe.get(), NID_pkcs7_encrypted) != 1 ||
        X509_ALGOR_copy(safe->d.encrypted->enc_data->algorithm, sealed.algorithm.get()) != 1) {
        return nullptr;
    }
    ASN1_OCTET_STRING_free(safe->d.encrypted->enc_data->enc_data);
    safe->d.encrypted->enc_data->enc_data = sealed.data.release();
    return safe;
}

ossl::Pkcs7Ptr PackSafe(const StoredSafe& safe, const ossl::Secret& password) {
    const ossl::SafeBagsPtr bags = CollectBags(safe, password);
    if (!bags) {
        return nullptr;
    }
    return safe.protection ? PackEncrypted(bags.get(), *safe.protection, password)
                           : ossl::Pkcs7Ptr(PKCS12_pack_p7data(bags.get()));
}

bool AddMac(PKCS12* p12, const MacParams& mac, const ossl::Secret& password) {
    if (mac.pbmac1) {
        return pbmac1::Set(p12, *mac.pbmac1, password);
    }
    const ossl::DigestPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(mac.digestNid), nullptr));
    return digest && PKCS12_set_mac(p12, password.data(), password.size(), nullptr,
                                    pbe::SaltLengthFor(mac.saltLength),
                                    static_cast<int>(mac.iterations), digest.get()) == 1;
}

// The whole file under the new password, with the structure and protection of the imported
// one, in the standard password encoding.
bool Encode(const CertStore& store, const ossl::Secret& password, std::vector<BYTE>& out) {
    ossl::SafesPtr safes(sk_PKCS7_new_null());
    if (!safes) {
        return false;
    }
    for (const StoredSafe& safe : store.safes) {
        ossl::Pkcs7Ptr packed = PackSafe(safe, password);
        if (!packed || sk_PKCS7_push(safes.get(), packed.get()) == 0) {
            return false;
        }
        packed.release();
    }
    const ossl::Pkcs12Ptr p12(PKCS12_add_safes_ex(safes.get(), NID_pkcs7_data, nullptr, nullptr));
    if (!p12 || (store.mac && !AddMac(p12.get(), *store.mac, password))) {
        return false;
    }
    const int length = i2d_PKCS12(p12.get(), nullptr);
    if (length <= 0) {
        return false;
    }
    out.resize(static_cast<size_t>(length));
    unsigned char* cursor = out.data();
    return i2d_PKCS12(p12.get(), &cursor) == length;
}

// Encodes once per password; the size query and the export that follows share the result.
bool PrepareExport(CertStore& store, Passwords passwords) {
    if (store.hasExport && store.exportPassword == passwords.utf8) {
        return true;
    }
    store.hasExport = false;
    std::vector<BYTE> encoding;
    if (!Encode(store, passwords.utf8, encoding)) {
        return false;
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
