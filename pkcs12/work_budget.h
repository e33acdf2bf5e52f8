#pragma once
// The work a pass over a file asks of its key derivations, counted against the tool's limits.

#include <cstdint>

#include "pkcs12/pbe_params.h"
#include "platform/win32_types.h"

namespace pbe {

// Counts the work one pass over a file asks of its key derivations, iterations times blocks,
// so that a file beyond the limits is refused before the first derivation runs.
class WorkBudget {
public:
    // ERROR_SUCCESS when the derivation fits, otherwise the PINTOOL_E_ code of the limit.
    DWORD Charge(const Params& derivation) noexcept;
    // The PKCS#12 MAC's key is one block of its digest; PBMAC1's PBKDF2 may make more. A count
    // below 1 is damage: NTE_BAD_DATA.
    DWORD ChargeMac(long iterations, long blocks = 1) noexcept;

private:
    DWORD Spend(long iterations, long blocks) noexcept;

    std::int64_t m_spent = 0;
};

}  // namespace pbe
