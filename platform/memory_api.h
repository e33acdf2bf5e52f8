#pragma once
// Wipes memory that held a secret; the compiler may not optimise it away.

#include <cstddef>

void SecureZeroMemory(void* destination, std::size_t length) noexcept;
