#pragma once
// Where test programs reach into the engine. The program links seams.cpp, whose definitions
// leave the engine as it is; test programs link their own instead
// (tests/support/engine_seams.cpp), so the program carries no switch of theirs.

#include <cstddef>

namespace engine_seams {

// The bytes to take for a salt or IV of `length` bytes; null: fresh random ones.
const unsigned char* ChosenSaltOrIv(int length) noexcept;

// Sees every key the tool's own derivations made from a password of `passwordLength` bytes.
void Derived(std::size_t passwordLength, unsigned char* key, std::size_t keyLength) noexcept;

// How many threads a batch uses, of the `machine` the machine offers.
unsigned ThreadCount(unsigned machine) noexcept;

// Called before a thread for batches is started; throws what starting one throws to refuse it.
void BeforeThreadStart();

// Called on each extra thread as the last thing it does for a batch, its stack wiped.
void WorkEnded() noexcept;

}  // namespace engine_seams
