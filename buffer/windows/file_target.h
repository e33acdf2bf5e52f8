#pragma once
// What a replacement keeps of its target on Windows. Paths are wide and in the \\?\ form, so
// that neither the ANSI code page nor MAX_PATH limits them.

#include <windows.h>

#include <string>

struct CFileTarget {
    std::wstring path;  // the file itself, symbolic links resolved
    std::wstring directory;
    std::wstring temporary;
    BY_HANDLE_FILE_INFORMATION info{};  // of the locked file: identity, links, attributes
};
