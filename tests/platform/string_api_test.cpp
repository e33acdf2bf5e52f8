#include "platform/string_api.h"

#include <gtest/gtest.h>

#include "platform/file_api.h"

#include "tests/support/wide_text.h"

namespace {

using testing_support::Decode;
using testing_support::WideString;
using testing_support::WideText;

TEST(MultiByteToWideChar, DecodesUtf8IncludingSurrogatePairs) {
    EXPECT_EQ(Decode(""), WideText(u""));
    EXPECT_EQ(Decode("Grüße€"), WideText(u"Grüße€"));
    // Beyond Windows-1252: the ANSI code page is UTF-8 on Windows too.
    EXPECT_EQ(Decode("Ωмega"), WideText(u"Ωмega"));
    EXPECT_EQ(Decode("\xF0\x9F\x94\x91"), WideText(u"\U0001F511"));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Grüße€", -1, nullptr, 0), 7);
}

TEST(MultiByteToWideChar, TooSmallTargetFailsWithInsufficientBuffer) {
    WCHAR target[3] = {'x', 'x', 'x'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, target, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, target, 3), 3);
    EXPECT_EQ(WideString(target, 3), WideText(std::u16string(u"ab\0", 3)));
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
