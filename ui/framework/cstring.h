#pragma once
// The framework's 8-bit string (UTF-8). It carries PINs, so it keeps them in the tool's secret
// type, which wipes every block it gives back. An empty string is "", never a null pointer.

#include <cstddef>

#include "platform/secret.h"

class CString {
public:
    CString() = default;
    CString(const char* text);  // NOLINT: converts like the framework's string does
    CString(const CString& other);
    CString(CString&& other) noexcept;
    CString& operator=(const CString& other);
    CString& operator=(CString&& other) noexcept;
    CString& operator=(const char* text);
    ~CString();

    operator const char*() const noexcept { return m_text.c_str(); }  // NOLINT
    int GetLength() const noexcept { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const noexcept { return m_text.empty(); }
    void Empty() noexcept;

private:
    void Assign(const char* text, std::size_t length);

    Secret m_text;
};
