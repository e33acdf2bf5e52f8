#include <malloc.h>

#include "platform/memory_api.h"

std::size_t HeapBlockSize(void* block) noexcept {
    return _msize(block);
}
