#include <gtest/gtest.h>

#include <algorithm>
#include <concepts>
#include <cstring>
#include <string>

#include "platform/memory_api.h"
#include "platform/secret.h"

namespace {

// Secrets are compared with SameSecret, in a time that does not tell where they differ; a
// comparison with == does not compile.
static_assert(!std::equality_comparable<Secret>);
static_assert(!std::equality_comparable<WideSecret>);
static_assert(!std::equality_comparable<SecretBytes>);

std::string Text(const Secret& secret) {
    return {secret.c_str(), secret.size()};
}

TEST(Secret, IsEmptyAndTerminatedWithoutABlock) {
    const Secret empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(empty.empty());
    EXPECT_TRUE(SameSecret(empty, Secret("", 0)));
    EXPECT_TRUE(SameSecret(empty, Secret::Zeroed(0)));
}

TEST(Secret, AppendsAndAssigns) {
    Secret secret("Grüße", std::strlen("Grüße"));
    secret.Append("€", std::strlen("€"));
    secret.Append('!');
    EXPECT_EQ(Text(secret), "Grüße€!");
    EXPECT_EQ(secret.c_str()[secret.size()], '\0');
    secret.Assign(secret.c_str() + 2, 4);  // from its own contents
    EXPECT_EQ(Text(secret), "üß");
    EXPECT_TRUE(SameSecret(secret, Secret("üß", 4)));
    EXPECT_FALSE(SameSecret(secret, Secret("üß!", 5)));
    secret.Clear();
    EXPECT_STREQ(secret.c_str(), "");
}

TEST(Secret, GrowsFromItsOwnContentsAndStaysTerminated) {
    Secret secret;
    secret.Reserve(2);
    EXPECT_STREQ(secret.c_str(), "");
    secret.Append("ab", 2);
    std::string expected = "ab";
    for (int i = 0; i < 5; ++i) {
        secret.Append(secret.c_str(), secret.size());  // each time into a larger block
        expected += expected;
    }
    EXPECT_EQ(Text(secret), expected);
    EXPECT_EQ(secret.c_str()[secret.size()], '\0');
    // Bytes keep zeros as units of their own.
    const unsigned char raw[] = {0, 1, 0, 2};
    const SecretBytes bytes(raw, sizeof raw);
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_TRUE(std::equal(raw, raw + 4, bytes.data()));
}

TEST(Secret, MovesHandTheBlockOver) {
    Secret source("PIN 1234", 8);
    const char* const block = source.c_str();
    Secret moved(std::move(source));
    EXPECT_EQ(moved.c_str(), block);
    EXPECT_STREQ(source.c_str(), "");  // NOLINT: moved from on purpose
    Secret assigned("alt", 3);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.c_str(), block);
    EXPECT_TRUE(moved.empty());  // NOLINT: moved from on purpose
}

TEST(Secret, ZeroedIsAWritableBufferOfUnits) {
    WideSecret wide = WideSecret::Zeroed(3);
    ASSERT_EQ(wide.size(), 3u);
    wide.data()[0] = u'ß';
    EXPECT_EQ(wide.c_str()[0], u'ß');
    EXPECT_EQ(wide.c_str()[3], 0);
}

TEST(SameSecret, IsEqualityOfLengthAndEveryUnit) {
    const Secret pin("PIN 1234", 8);
    EXPECT_TRUE(SameSecret(pin, Secret("PIN 1234", 8)));
    EXPECT_TRUE(SameSecret(Secret(), Secret()));
    EXPECT_FALSE(SameSecret(pin, Secret("XIN 1234", 8)));  // the first unit
    EXPECT_FALSE(SameSecret(pin, Secret("PIN 1235", 8)));  // the last
    EXPECT_FALSE(SameSecret(pin, Secret("PIN 123", 7)));   // a prefix
    EXPECT_FALSE(SameSecret(Secret("PIN 123", 7), pin));
    EXPECT_FALSE(SameSecret(pin, Secret()));
    // Zeros are units like any other, inside and at the end.
    EXPECT_TRUE(SameSecret(Secret("a\0b", 3), Secret("a\0b", 3)));
    EXPECT_FALSE(SameSecret(Secret("a\0b", 3), Secret("a\0c", 3)));
    EXPECT_FALSE(SameSecret(Secret("a\0", 2), Secret("a", 1)));
    EXPECT_FALSE(SameSecret(Secret::Zeroed(2), Secret::Zeroed(3)));
    const unsigned char raw[] = {0, 1, 0, 2}, other[] = {0, 1, 0, 3};
    EXPECT_TRUE(SameSecret(SecretBytes(raw, 4), SecretBytes(raw, 4)));
    EXPECT_FALSE(SameSecret(SecretBytes(raw, 4), SecretBytes(other, 4)));
    // Wide units differ in either byte.
    const WCHAR sharp[] = {0x00DF}, high[] = {0x01DF}, low[] = {0x00DE};
    EXPECT_TRUE(SameSecret(WideSecret(sharp, 1), WideSecret(sharp, 1)));
    EXPECT_FALSE(SameSecret(WideSecret(sharp, 1), WideSecret(high, 1)));
    EXPECT_FALSE(SameSecret(WideSecret(sharp, 1), WideSecret(low, 1)));
}

TEST(SameBytes, ComparesEveryByteUpToTheSize) {
    const char first[] = "abcdef", second[] = "abcdeF";
    EXPECT_TRUE(SameBytes(first, second, 5));
    EXPECT_FALSE(SameBytes(first, second, 6));
    EXPECT_TRUE(SameBytes(first, second, 0));
    for (std::size_t at = 0; at < 64; ++at) {
        std::string a(64, '\0'), b(64, '\0');
        b[at] = '\x80';
        EXPECT_FALSE(SameBytes(a.data(), b.data(), a.size())) << at;
        EXPECT_TRUE(SameBytes(a.data(), b.data(), at)) << at;
    }
}

}  // namespace
