#pragma once
// What test programs switch in the engine, through the seams only they link
// (engine_seams.cpp). Each Scoped switch holds while it lives; none may be nested in another
// of its kind on another thread.

#include <cstddef>

namespace engine_switches {

// Every salt and IV an export makes is the same fixed pattern instead of random bytes, so that
// two exports can be compared byte for byte.
class ScopedFixedSalts {
public:
    ScopedFixedSalts() noexcept;
    ScopedFixedSalts(const ScopedFixedSalts&) = delete;
    ScopedFixedSalts& operator=(const ScopedFixedSalts&) = delete;
    ~ScopedFixedSalts();
};

// Every key the tool's own derivations make for a password of more than 64 bytes has its first
// bit flipped, as a fault in the handling of long passwords would.
class ScopedLongPasswordFault {
public:
    ScopedLongPasswordFault() noexcept;
    ScopedLongPasswordFault(const ScopedLongPasswordFault&) = delete;
    ScopedLongPasswordFault& operator=(const ScopedLongPasswordFault&) = delete;
    ~ScopedLongPasswordFault();
};

// Batches use exactly `threads` threads (1: one after another on the caller's), whatever the
// machine has.
class ScopedThreadCount {
public:
    explicit ScopedThreadCount(unsigned threads) noexcept;
    ScopedThreadCount(const ScopedThreadCount&) = delete;
    ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;
    ~ScopedThreadCount();

private:
    unsigned m_previous;
};

// No further thread can be started for batches, as when the system refuses one (starting it
// throws std::system_error); those already there go on working.
class ScopedThreadStartRefusal {
public:
    ScopedThreadStartRefusal() noexcept;
    ScopedThreadStartRefusal(const ScopedThreadStartRefusal&) = delete;
    ScopedThreadStartRefusal& operator=(const ScopedThreadStartRefusal&) = delete;
    ~ScopedThreadStartRefusal();

private:
    bool m_previous;
};

// `observer` (null: none) is called on each extra thread as the last thing it does for a
// batch, after its stack was wiped, so that a test can look at what is left there.
void SetWorkEndObserver(void (*observer)()) noexcept;

// How many derivations the tool's own code has made so far.
std::size_t DerivedDirectly() noexcept;

}  // namespace engine_switches
