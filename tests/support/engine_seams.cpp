// The engine's seams as test programs have them: each does what the program's do until a
// switch of engine_switches.h says otherwise.
#include <array>
#include <atomic>
#include <system_error>

#include "pkcs12/seams.h"
#include "tests/support/engine_switches.h"

namespace {

std::atomic<bool> g_fixedSalts{false};
std::atomic<bool> g_longPasswordFault{false};
std::atomic<unsigned> g_forcedThreads{0};
std::atomic<bool> g_threadStartsRefused{false};
std::atomic<void (*)()> g_workEndObserver{nullptr};
std::atomic<std::size_t> g_derived{0};

}  // namespace

namespace engine_seams {

const unsigned char* ChosenSaltOrIv(int length) noexcept {
    static constexpr std::array<unsigned char, 256> kPattern = [] {
        std::array<unsigned char, 256> pattern{};
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<unsigned char>(0xA5 ^ i);
        }
        return pattern;
    }();
    return g_fixedSalts && length > 0 && static_cast<std::size_t>(length) <= kPattern.size()
               ? kPattern.data()
               : nullptr;
}

void Derived(std::size_t passwordLength, unsigned char* key, std::size_t keyLength) noexcept {
    constexpr std::size_t kLong = 64;
    if (g_longPasswordFault && passwordLength > kLong && keyLength > 0) {
        key[0] ^= 0x01;
    }
    ++g_derived;
}

unsigned ThreadCount(unsigned machine) noexcept {
    const unsigned forced = g_forcedThreads;
    return forced != 0 ? forced : machine;
}

void BeforeThreadStart() {
    if (g_threadStartsRefused) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread for tests");
    }
}

void WorkEnded() noexcept {
    if (const auto observer = g_workEndObserver.load()) {
        observer();
    }
}

}  // namespace engine_seams

namespace engine_switches {

ScopedFixedSalts::ScopedFixedSalts() noexcept {
    g_fixedSalts = true;
}

ScopedFixedSalts::~ScopedFixedSalts() {
    g_fixedSalts = false;
}

ScopedLongPasswordFault::ScopedLongPasswordFault() noexcept {
    g_longPasswordFault = true;
}

ScopedLongPasswordFault::~ScopedLongPasswordFault() {
    g_longPasswordFault = false;
}

ScopedThreadCount::ScopedThreadCount(unsigned threads) noexcept
    : m_previous(g_forcedThreads.exchange(threads < 1 ? 1 : threads)) {}

ScopedThreadCount::~ScopedThreadCount() {
    g_forcedThreads = m_previous;
}

ScopedThreadStartRefusal::ScopedThreadStartRefusal() noexcept
    : m_previous(g_threadStartsRefused.exchange(true)) {}

ScopedThreadStartRefusal::~ScopedThreadStartRefusal() {
    g_threadStartsRefused = m_previous;
}

void SetWorkEndObserver(void (*observer)()) noexcept {
    g_workEndObserver = observer;
}

std::size_t DerivedDirectly() noexcept {
    return g_derived;
}

}  // namespace engine_switches
