#include <cwchar>

#include "ui/framework/win32/win32_support.h"

WideText::WideText(const char* text) {
    const char* source = text == nullptr ? "" : text;
    const int units = MultiByteToWideChar(CP_UTF8, 0, source, -1, nullptr, 0);
    m_units.resize(units > 0 ? static_cast<std::size_t>(units) : 1, L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, source, -1, m_units.data(), units);
    }
}

WideText::~WideText() {
    SecureZeroMemory(m_units.data(), m_units.size() * sizeof(wchar_t));
}

CString Utf8Text(const wchar_t* text, int length) {
    if (text == nullptr || length <= 0) {
        return CString("");
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return CString("");
    }
    std::vector<char> utf8(static_cast<std::size_t>(bytes) + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), bytes, nullptr, nullptr);
    CString result(utf8.data());
    SecureZeroMemory(utf8.data(), utf8.size());
    return result;
}

CString DlgItemText(HWND dialog, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    if (length <= 0) {
        return CString("");
    }
    std::vector<wchar_t> units(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = static_cast<int>(GetDlgItemTextW(dialog, id, units.data(), length + 1));
    CString result = Utf8Text(units.data(), copied);
    SecureZeroMemory(units.data(), units.size() * sizeof(wchar_t));
    return result;
}
