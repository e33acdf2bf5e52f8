#include "ui/framework/cstring.h"

#include <cstring>

#include "platform/memory_api.h"

CString::CString(const char* text) {
    *this = text;
}

CString::CString(const CString& other) {
    Assign(other.m_text.data(), other.m_text.size());
}

CString::CString(CString&& other) noexcept : m_text(std::move(other.m_text)) {
    other.Empty();
}

CString& CString::operator=(const CString& other) {
    if (this != &other) {
        Assign(other.m_text.data(), other.m_text.size());
    }
    return *this;
}

CString& CString::operator=(CString&& other) noexcept {
    if (this != &other) {
        Empty();
        m_text = std::move(other.m_text);
        other.Empty();
    }
    return *this;
}

CString& CString::operator=(const char* text) {
    if (text != m_text.c_str()) {
        Assign(text == nullptr ? "" : text, text == nullptr ? 0 : std::strlen(text));
    }
    return *this;
}

CString::~CString() {
    Empty();
}

void CString::Empty() noexcept {
    // Wipes the whole block, the bytes beyond the current end included.
    m_text.resize(m_text.capacity());
    SecureZeroMemory(m_text.data(), m_text.size());
    m_text.clear();
}

void CString::Assign(const char* text, std::size_t length) {
    Empty();  // a block given up for a larger one holds nothing any more
    m_text.assign(text, length);
}
