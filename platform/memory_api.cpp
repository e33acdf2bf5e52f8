#include "platform/memory_api.h"

#include <openssl/crypto.h>

void SecureZeroMemory(void* destination, std::size_t length) noexcept {
    if (destination != nullptr && length != 0) {
        OPENSSL_cleanse(destination, length);
    }
}
