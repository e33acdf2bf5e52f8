#pragma once
// Paths as the W functions take them: UTF-16 in the \\?\ form, so that neither the ANSI code
// page nor MAX_PATH limits them.

#include <string>

using SystemPath = std::wstring;
inline constexpr wchar_t kPathSeparators[] = L"\\/";
