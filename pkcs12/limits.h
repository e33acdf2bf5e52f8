#pragma once
// What the tool accepts of a PKCS#12 file, and the error codes that say which limit a file is
// beyond or what it holds that the tool cannot renew.

#include <cstdint>

#include "platform/win32_types.h"

// The one budget of the work a file asks for, refused before that work is done. Work is counted
// in blocks: a key derivation runs its iterations once for every block of output (hash size) it
// produces. Besides, each derivation costs a fixed amount, however few its iterations: it is set
// up, and what it protects is decrypted, encrypted anew and checked; so does each part of the
// file before OpenSSL decodes the parts. And each element read of the file's structure costs a
// little: it is decoded, by the tool and by OpenSSL, and held in memory while the pass runs. A
// pass is one import or one export; a PIN change runs three (reading, writing, checking the
// written file), so it costs at most three times kMaxWorkPerPass.
inline constexpr long kMaxIterationsPerDerivation = 5'000'000;  // as the file declares them
inline constexpr std::int64_t kMaxWorkPerPass = 10'000'000;
inline constexpr std::int64_t kWorkPerDerivation = 500;
inline constexpr std::int64_t kWorkPerElement = 4;
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
// Beyond the budget by the number of derivations rather than their iterations.
inline constexpr DWORD PINTOOL_E_TOO_MANY_VALUES = 0xE0000006;
// Beyond the budget by the elements of its structure, or nested deeper than ber::kMaxDepth.
inline constexpr DWORD PINTOOL_E_TOO_MANY_ELEMENTS = 0xE0000007;
inline constexpr DWORD PINTOOL_E_TOO_DEEP = 0xE0000008;
// What the file protects can be opened by no password (parameters out of range, contents that
// do not read once the password is known): damaged, whichever PIN is given.
inline constexpr DWORD PINTOOL_E_DAMAGED = 0xE0000009;
// Written under the new password, the file would be larger than kMaxPfxBytes.
inline constexpr DWORD PINTOOL_E_OUTPUT_TOO_LARGE = 0xE000000A;
