#include <malloc.h>
#include <string.h>

#include "platform/memory_api.h"

void SecureZeroMemory(void* destination, std::size_t length) noexcept {
    if (destination != nullptr && length != 0) {
        explicit_bzero(destination, length);
    }
}

std::size_t HeapBlockSize(void* block) noexcept {
    return malloc_usable_size(block);
}
