#include "platform/string_api.h"

#include <gtest/gtest.h>

#include "platform/file_api.h"

namespace {

std::u16string Decode(const char* text) {
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(needed), u'?');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed), needed);
    EXPECT_EQ(wide.back(), u'\0');  // the terminator is counted and written
    wide.pop_back();
    return wide;
}

TEST(MultiByteToWideChar, DecodesUtf8IncludingSurrogatePairs) {
    EXPECT_EQ(Decode(""), u"");
    EXPECT_EQ(Decode("Grüße€"), u"Grüße€");
    EXPECT_EQ(Decode("\xF0\x9F\x94\x91"), u"\U0001F511");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Grüße€", -1, nullptr, 0), 7);
}

TEST(MultiByteToWideChar, InvalidSequencesBecomeReplacementCharacters) {
    // A lone continuation byte, a truncated sequence, an overlong slash, an encoded surrogate.
    EXPECT_EQ(Decode("a\x80"
                     "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Decode("x\xE2\x82"), u"x\uFFFD\uFFFD");
    EXPECT_EQ(Decode("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Decode("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
}

TEST(MultiByteToWideChar, TooSmallTargetFailsWithInsufficientBuffer) {
    char16_t target[3] = {u'x', u'x', u'x'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, target, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, target, 3), 3);
    EXPECT_EQ(std::u16string(target, 3), std::u16string(u"ab\0", 3));
}

TEST(Mbscmp, ComparesExactBytes) {
    const auto cmp = [](const char* a, const char* b) {
        return _mbscmp(reinterpret_cast<const unsigned char*>(a),
                       reinterpret_cast<const unsigned char*>(b));
    };
    EXPECT_EQ(cmp("Grüße", "Grüße"), 0);
    EXPECT_NE(cmp("pin", "PIN"), 0);
    EXPECT_NE(cmp("pin ", "pin"), 0);
    EXPECT_LT(cmp("a", "\xC3\xA4"), 0);  // bytes compare unsigned
}

TEST(LstrlenA, CountsBytesAndTakesNull) {
    EXPECT_EQ(lstrlenA("Grüße€"), 10);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

}  // namespace
