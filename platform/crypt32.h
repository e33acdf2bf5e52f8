#pragma once
// PKCS#12 functions of the Windows crypto API on OpenSSL 3. A store keeps the file's structure
// bag by bag (order, attributes, how each part was protected), so that an export under a new
// password gives the same file as before apart from salts, IVs and the password.

#include <cstdint>
#include <memory>

#include "platform/win32_types.h"

struct CRYPT_DATA_BLOB {
    DWORD cbData;
    BYTE* pbData;
};

struct CertStore;
using HCERTSTORE = CertStore*;

inline constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
inline constexpr DWORD EXPORT_PRIVATE_KEYS = 0x00000004;

// Limits on the key derivations a file asks for, refused before any derivation runs. Work is
// counted in blocks: a derivation runs its iterations once for every block of output (hash
// size) it produces. A pass is one import or one export; a PIN change runs three (reading,
// writing, checking the written file), so it costs at most three times kMaxWorkPerPass.
inline constexpr long kMaxIterationsPerDerivation = 5'000'000;  // as the file declares them
inline constexpr std::int64_t kMaxWorkPerPass = 10'000'000;
// What OpenSSL's scrypt allows by default (its maxmem); beyond it every attempt fails.
inline constexpr std::uint64_t kMaxScryptMemory = 32u * 1024 * 1024;

// What the tool accepts of a file at all: real soft certificates are a few kilobytes.
inline constexpr DWORD kMaxPfxBytes = 16u * 1024 * 1024;
inline constexpr long kMaxBags = 100'000;

// The tool's own error codes for a file beyond its limits (bit 29, which Windows leaves to
// applications, set).
inline constexpr DWORD PINTOOL_E_FILE_TOO_LARGE = 0xE0000001;  // more than kMaxPfxBytes
inline constexpr DWORD PINTOOL_E_TOO_MANY_BAGS = 0xE0000002;   // more than kMaxBags
inline constexpr DWORD PINTOOL_E_TOO_MUCH_WORK = 0xE0000003;   // key derivations beyond budget
inline constexpr DWORD PINTOOL_E_SCRYPT_MEMORY = 0xE0000004;   // scrypt needs too much memory
// Protection the tool cannot renew under a new password (public-key encryption, nested bags,
// algorithms it cannot write): a change would leave that part under the old one.
inline constexpr DWORD PINTOOL_E_CANNOT_RENEW = 0xE0000005;

BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pfx) noexcept;
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pfx, LPCWSTR password, DWORD flags) noexcept;
// As PFXImportCertStore; besides, while it derives the file's keys from `password`, it derives
// the keys an export under `nextPassword` will need that the file's visible parameters fix
// already (their salts chosen now), so that such an export, if it follows, takes less time.
// The store keeps them for that one export, and wipes them once it ran or when it is closed;
// what the import reports does not depend on them. A null `nextPassword` derives nothing ahead.
HCERTSTORE PFXImportCertStoreForNextPassword(CRYPT_DATA_BLOB* pfx, LPCWSTR password,
                                             LPCWSTR nextPassword, DWORD flags) noexcept;
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
