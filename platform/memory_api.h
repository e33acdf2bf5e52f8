#pragma once
// Wiping memory that held a secret: SecureZeroMemory (the system's on Windows) and what the tool
// builds on it; and comparing secrets.

#include <cstddef>

#include "win32/memory.h"

// The usable size of a block from malloc, at least what was asked for.
std::size_t HeapBlockSize(void* block) noexcept;

// How much of the stack below its caller WipeStackBelowCaller zeroes. A PIN change writes
// about 4 KiB below ChangePin (measured on x86-64 with OpenSSL 3.0, modern and legacy files);
// 64 KiB covers other OpenSSL releases, error paths and larger files many times over, and
// zeroing it takes a few microseconds.
inline constexpr std::size_t kWipedStackBytes = 64 * 1024;

// Zeroes the stack just below the caller's frame, where the functions it called left their
// locals: key material and passwords that no destructor wipes.
void WipeStackBelowCaller() noexcept;

// Whether `size` bytes at `first` and at `second` are the same, in a time that depends on `size`
// only: a comparison that stopped at the first difference would tell how much of a guess was
// right.
bool SameBytes(const void* first, const void* second, std::size_t size) noexcept;
