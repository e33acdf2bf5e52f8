#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/secret.h"

namespace {

std::string Text(const Secret& secret) {
    return {secret.c_str(), secret.size()};
}

TEST(Secret, IsEmptyAndTerminatedWithoutABlock) {
    const Secret empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(empty.empty());
    EXPECT_TRUE(empty == Secret("", 0));
    EXPECT_TRUE(empty == Secret::Zeroed(0));
}

TEST(Secret, AppendsAndAssigns) {
    Secret secret("Grüße", std::strlen("Grüße"));
    secret.Append("€", std::strlen("€"));
    secret.Append('!');
    EXPECT_EQ(Text(secret), "Grüße€!");
    EXPECT_EQ(secret.c_str()[secret.size()], '\0');
    secret.Assign(secret.c_str() + 2, 4);  // from its own contents
    EXPECT_EQ(Text(secret), "üß");
    EXPECT_TRUE(secret == Secret("üß", 4));
    EXPECT_FALSE(secret == Secret("üß!", 5));
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

}  // namespace
