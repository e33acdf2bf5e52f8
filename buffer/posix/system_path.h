#pragma once
// Paths as the POSIX functions take them: bytes, UTF-8 for the most part.

#include <string>

using SystemPath = std::string;
inline constexpr char kPathSeparators[] = "/";
