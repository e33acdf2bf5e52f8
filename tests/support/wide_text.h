#pragma once
// UTF-16 text in the platform's own unit type (WCHAR: char16_t, or wchar_t on Windows).

#include <string>
#include <string_view>

#include "platform/string_api.h"

namespace testing_support {

using WideString = std::basic_string<WCHAR>;

inline WideString WideText(std::u16string_view text) {
    return WideString(text.begin(), text.end());
}

// `text` converted from the ANSI code page with MultiByteToWideChar, without the terminator.
inline WideString Decode(const char* text) {
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    WideString wide(static_cast<size_t>(needed > 0 ? needed : 1), '?');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed) != needed ||
        wide.back() != 0) {  // the terminator is counted and written
        return WideText(u"(conversion failed)");
    }
    wide.pop_back();
    return wide;
}

}  // namespace testing_support
