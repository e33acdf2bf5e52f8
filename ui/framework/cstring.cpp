#include "ui/framework/cstring.h"

#include <cstring>

CString::CString(const char* text) {
    *this = text;
}

CString::CString(const CString& other) {
    Assign(other.m_text.c_str(), other.m_text.size());
}

CString::CString(CString&& other) noexcept = default;

CString& CString::operator=(const CString& other) {
    if (this != &other) {
        Assign(other.m_text.c_str(), other.m_text.size());
    }
    return *this;
}

CString& CString::operator=(CString&& other) noexcept = default;

CString& CString::operator=(const char* text) {
    Assign(text == nullptr ? "" : text, text == nullptr ? 0 : std::strlen(text));
    return *this;
}

CString::~CString() = default;

void CString::Empty() noexcept {
    m_text.Clear();
}

void CString::Assign(const char* text, std::size_t length) {
    m_text.Assign(text, length);
}
