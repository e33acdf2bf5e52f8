#include "pkcs12/openssl_memory.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string_view>

#include "pkcs12/pbe_params.h"
#include "platform/secret.h"

namespace {

TEST(WipeOpensslMemoryOnRelease, IsRefusedOnceOpensslHasAllocated) {
    OPENSSL_free(OPENSSL_malloc(1));
    EXPECT_FALSE(WipeOpensslMemoryOnRelease());
}

bool InArena(const void* block) {
    return CRYPTO_secure_allocated(block) == 1;
}

// PINs and what a PIN decrypts go to the locked arena; what does not fit there still works.
TEST(KeepSecretsInLockedMemory, PinsAndDecryptedValuesLiveInTheLockedArena) {
    const Secret before("vorher", 6);
    ASSERT_EQ(KeepSecretsInLockedMemory(), SecretMemoryLock::Locked);
    const Secret pin("Grüße-1234", std::strlen("Grüße-1234"));
    EXPECT_TRUE(InArena(pin.data()));
    EXPECT_FALSE(InArena(before.data()));

    constexpr std::string_view kKey = "ein privater Schlüssel";
    const auto* const key = reinterpret_cast<const unsigned char*>(kKey.data());
    const pbe::Encrypted sealed =
        pbe::EncryptBytes(pbe::DefaultKeyProtection(1), key, static_cast<long>(kKey.size()), pin);
    pbe::Plaintext opened;
    ASSERT_TRUE(pbe::Decrypt(sealed.algorithm.get(), sealed.data.get(), pin, opened));
    ASSERT_EQ(opened.size(), kKey.size());
    EXPECT_EQ(std::memcmp(opened.data(), key, kKey.size()), 0);
    EXPECT_TRUE(InArena(opened.data()));

    // Grown beyond the arena, a secret moves to ordinary memory with its units.
    SecretBytes large(key, kKey.size());
    large.Reserve(kSecretArenaBytes);
    EXPECT_FALSE(InArena(large.data()));
    EXPECT_EQ(std::memcmp(large.data(), key, kKey.size()), 0);
}

}  // namespace
