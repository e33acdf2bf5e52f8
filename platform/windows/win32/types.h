#pragma once
// The system's own declarations; WIN32_LEAN_AND_MEAN and NOCRYPT keep <wincrypt.h> out, whose
// PKCS#12 functions and blob type would meet the tool's own.

#include <windows.h>

static_assert(sizeof(WCHAR) == 2 && sizeof(DWORD) == 4, "UTF-16 units and 32-bit DWORDs");

// The crypto error codes the tool's PKCS#12 functions leave as last errors. <winerror.h>
// declares them as HRESULTs (signed); as last errors they are DWORDs, as everywhere else.
#undef NTE_BAD_DATA
#undef NTE_BAD_ALGID
#undef NTE_BAD_KEY_STATE
#undef NTE_NO_MEMORY
#undef NTE_FAIL
#undef CRYPT_E_BAD_ENCODE
inline constexpr DWORD NTE_BAD_DATA = 0x80090005;
inline constexpr DWORD NTE_BAD_ALGID = 0x80090008;
inline constexpr DWORD NTE_BAD_KEY_STATE = 0x8009000B;
inline constexpr DWORD NTE_NO_MEMORY = 0x8009000E;
inline constexpr DWORD NTE_FAIL = 0x80090020;
inline constexpr DWORD CRYPT_E_BAD_ENCODE = 0x80092002;
