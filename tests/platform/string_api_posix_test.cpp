#include <gtest/gtest.h>

#include "platform/string_api.h"
#include "tests/support/wide_text.h"

// How the stand-in decodes what is no UTF-8; the system's own conversion is Windows' business.

namespace {

using testing_support::Decode;
using testing_support::WideText;

TEST(MultiByteToWideChar, InvalidSequencesBecomeReplacementCharacters) {
    // A lone continuation byte, a truncated sequence, an overlong slash, an encoded surrogate.
    EXPECT_EQ(Decode("a\x80"
                     "b"),
              WideText(u"a\uFFFDb"));
    EXPECT_EQ(Decode("x\xE2\x82"), WideText(u"x\uFFFD\uFFFD"));
    EXPECT_EQ(Decode("\xC0\xAF"), WideText(u"\uFFFD\uFFFD"));
    EXPECT_EQ(Decode("\xED\xA0\x80"), WideText(u"\uFFFD\uFFFD\uFFFD"));
}

}  // namespace
