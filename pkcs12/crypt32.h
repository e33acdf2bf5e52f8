#pragma once
// PKCS#12 functions of the Windows crypto API on OpenSSL 3. A store keeps the file's structure
// bag by bag (order, attributes, how each part was protected), so that an export under a new
// password gives the same file as before apart from salts, IVs and the password.

#include <memory>

#include "pkcs12/limits.h"
#include "platform/win32_types.h"

struct CRYPT_DATA_BLOB {
    DWORD cbData;
    BYTE* pbData;
};

struct CertStore;
using HCERTSTORE = CertStore*;

inline constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
inline constexpr DWORD EXPORT_PRIVATE_KEYS = 0x00000004;

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) noexcept;
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) noexcept;
// As PFXImportCertStore, with every key derived by OpenSSL's own implementations (a library
// context of its default and legacy providers alone), none by the tool's faster ones: for
// checking a file the tool wrote, so that a fault in the derivations that wrote it cannot pass
// its own check.
HCERTSTORE PFXImportCertStoreForCheck(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) noexcept;
BOOL PFXExportCertStoreEx(HCERTSTORE store, CRYPT_DATA_BLOB* pfx, LPCWSTR password, void* reserved,
                          DWORD flags) noexcept;
BOOL CertCloseStore(HCERTSTORE store, DWORD flags) noexcept;

// Closes a store when it goes out of scope.
struct CertStoreCloser {
    void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using UniqueCertStore = std::unique_ptr<CertStore, CertStoreCloser>;

// True when both stores hold the same bags in the same order with the same contents (keys
// compared decrypted) and attributes, in parts of the same kind, with or without a MAC alike.
bool CertStoresHoldSameBags(HCERTSTORE first, HCERTSTORE second) noexcept;
