#pragma once
// The work a pass over a file asks for, counted against the tool's limits before it is done.

#include <cstdint>

#include "pkcs12/ber.h"
#include "pkcs12/pbe_params.h"
#include "platform/win32_types.h"

namespace pbe {

// Counts the work one pass over a file asks for in one unit, so that a file beyond the limits
// is refused before the work is done: a key derivation's iterations times its blocks, and
// besides a fixed cost for each derivation (setting it up, decrypting, encrypting and checking
// what it protects, however few its iterations) and for each element read (limits.h).
class WorkBudget {
public:
    // ERROR_SUCCESS when the derivation fits, otherwise the PINTOOL_E_ code of the limit.
    DWORD Charge(const Params& derivation) noexcept;
    // The PKCS#12 MAC's key is one block of its digest; PBMAC1's PBKDF2 may make more. A count
    // below 1 is damage.
    DWORD ChargeMac(long iterations, long blocks = 1) noexcept;

    // The parts of a file, each a piece of work of its own (decoded, and mostly decrypted),
    // charged before OpenSSL decodes them.
    DWORD ChargeParts(long parts) noexcept;

    // The elements that may still be read; Charge what was read with the same budget after.
    ber::ReadBudget ForReading() const noexcept;
    DWORD Charge(const ber::ReadBudget& read) noexcept;

private:
    DWORD Spend(long iterations, long blocks) noexcept;

    std::int64_t m_spent = 0;
};

}  // namespace pbe
