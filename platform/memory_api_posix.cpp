#include <malloc.h>
#include <openssl/crypto.h>

#include "platform/memory_api.h"

void SecureZeroMemory(void* destination, std::size_t length) noexcept {
    if (destination != nullptr && length != 0) {
        OPENSSL_cleanse(destination, length);
    }
}

std::size_t HeapBlockSize(void* block) noexcept {
    return malloc_usable_size(block);
}
