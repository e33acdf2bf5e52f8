#pragma once
// What the tests do with the system on Windows. Programs of the build machine (openssl, the
// fixture script) run on its side, before and after the tests under Wine.

#include <windows.h>

#include <algorithm>
#include <string>

namespace testing_support {

// A UTF-8 path as Windows' wide form with the \\?\ prefix, which no MAX_PATH limits. (The C++
// library's own conversion of a narrow path takes every byte for a character.)
inline std::wstring ExtendedWidePath(const std::string& utf8) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), needed);
    wide.pop_back();
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return LR"(\\?\)" + wide;
}

}  // namespace testing_support
