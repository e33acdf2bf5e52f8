#pragma once
// The framework's 8-bit string (UTF-8). It carries PINs, so its bytes are wiped whenever they
// change or the string goes. An empty string is "", never a null pointer.

#include <string>

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

    std::string m_text;
};
