#include "pkcs12/work_budget.h"

#include "pkcs12/limits.h"

namespace pbe {
namespace {

// OpenSSL's scrypt allocates 128 * r * (N + 2) + 128 * r * p bytes and refuses beyond its
// limit, which no password then passes.
bool ScryptFitsMemory(std::uint64_t n, std::uint64_t r, std::uint64_t p) {
    constexpr std::uint64_t kBlockBytes = 128;
    if (r > kMaxScryptMemory / kBlockBytes) {
        return false;
    }
    const std::uint64_t units = kMaxScryptMemory / (kBlockBytes * r);
    return n <= units && p <= units && n + 2 + p <= units;
}

}  // namespace

DWORD WorkBudget::Charge(const Params& derivation) noexcept {
    if (derivation.scheme == Scheme::Scrypt &&
        !ScryptFitsMemory(derivation.scryptN, derivation.scryptR, derivation.scryptP)) {
        return PINTOOL_E_SCRYPT_MEMORY;
    }
    return Spend(derivation.iterations, derivation.blocks);
}

DWORD WorkBudget::ChargeMac(long iterations, long blocks) noexcept {
    return iterations < 1 ? PINTOOL_E_DAMAGED : Spend(iterations, blocks);
}

DWORD WorkBudget::Spend(long iterations, long blocks) noexcept {
    if (iterations > kMaxIterationsPerDerivation || blocks > kMaxWorkPerPass) {
        return PINTOOL_E_TOO_MUCH_WORK;
    }
    // Both at most a few million here, so the product fits.
    const std::int64_t work = static_cast<std::int64_t>(iterations) * blocks;
    if (work + kWorkPerDerivation > kMaxWorkPerPass - m_spent) {
        // Named for what weighs more: the iterations, or the number of derivations.
        return work >= kWorkPerDerivation ? PINTOOL_E_TOO_MUCH_WORK : PINTOOL_E_TOO_MANY_VALUES;
    }
    m_spent += work + kWorkPerDerivation;
    return ERROR_SUCCESS;
}

DWORD WorkBudget::ChargeParts(long parts) noexcept {
    if (parts > (kMaxWorkPerPass - m_spent) / kWorkPerDerivation) {
        return PINTOOL_E_TOO_MANY_VALUES;
    }
    m_spent += parts * kWorkPerDerivation;
    return ERROR_SUCCESS;
}

ber::ReadBudget WorkBudget::ForReading() const noexcept {
    return {(kMaxWorkPerPass - m_spent) / kWorkPerElement, false};
}

DWORD WorkBudget::Charge(const ber::ReadBudget& read) noexcept {
    if (read.tooDeep) {
        return PINTOOL_E_TOO_DEEP;
    }
    if (read.exhausted()) {
        return PINTOOL_E_TOO_MANY_ELEMENTS;
    }
    m_spent = kMaxWorkPerPass - read.reads * kWorkPerElement;
    return ERROR_SUCCESS;
}

}  // namespace pbe
