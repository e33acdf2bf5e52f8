#include "pkcs12/openssl_memory.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>

#include "platform/memory_api.h"

namespace {

void* Allocate(std::size_t size, const char* /*file*/, int /*line*/) {
    return std::malloc(size);
}

void Release(void* block, const char* /*file*/, int /*line*/) {
    if (block != nullptr) {
        SecureZeroMemory(block, HeapBlockSize(block));
        std::free(block);
    }
}

// Never the C library's realloc, which would give the old block back unwiped when it moves.
void* Reallocate(void* block, std::size_t size, const char* file, int line) {
    if (block == nullptr) {
        return Allocate(size, file, line);
    }
    if (size == 0) {
        Release(block, file, line);
        return nullptr;
    }
    const std::size_t usable = HeapBlockSize(block);
    if (size <= usable) {
        return block;
    }
    void* const moved = Allocate(size, file, line);
    if (moved != nullptr) {
        std::memcpy(moved, block, usable);
        Release(block, file, line);
    }
    return moved;
}

}  // namespace

bool WipeOpensslMemoryOnRelease() noexcept {
    return CRYPTO_set_mem_functions(Allocate, Reallocate, Release) == 1;
}
