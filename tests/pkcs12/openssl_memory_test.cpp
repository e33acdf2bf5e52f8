#include "pkcs12/openssl_memory.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

namespace {

TEST(WipeOpensslMemoryOnRelease, IsRefusedOnceOpensslHasAllocated) {
    OPENSSL_free(OPENSSL_malloc(1));
    EXPECT_FALSE(WipeOpensslMemoryOnRelease());
}

}  // namespace
