#pragma once
// String functions of the Windows kernel and runtime on POSIX. The ANSI code page here is UTF-8.

#include "platform/win32_types.h"

inline constexpr UINT CP_ACP = 0;

int lstrlenA(LPCSTR string) noexcept;

// Decodes UTF-8 to UTF-16 with the Windows contract: a source length of -1 includes the
// terminator, a target size of 0 asks for the size, a target that is too small gives 0 and
// ERROR_INSUFFICIENT_BUFFER. An invalid sequence becomes U+FFFD.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                        LPWSTR wideChar, int wideCharLength) noexcept;

// Compares byte by byte: negative, zero or positive like strcmp.
int _mbscmp(const unsigned char* first, const unsigned char* second) noexcept;
