#include "ui/framework/win32/win32_support.h"

WideText::WideText(const char* text) {
    const char* source = text == nullptr ? "" : text;
    const int units = MultiByteToWideChar(CP_UTF8, 0, source, -1, nullptr, 0);
    m_units = WideSecret::Zeroed(units > 1 ? static_cast<std::size_t>(units - 1) : 0);
    if (units > 1) {
        MultiByteToWideChar(CP_UTF8, 0, source, -1, m_units.data(), units);
    }
}

CString Utf8Text(const wchar_t* text, int length) {
    if (text == nullptr || length <= 0) {
        return CString("");
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return CString("");
    }
    Secret utf8 = Secret::Zeroed(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), bytes, nullptr, nullptr);
    return CString(utf8.c_str());
}

CString DlgItemText(HWND dialog, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    if (length <= 0) {
        return CString("");
    }
    WideSecret units = WideSecret::Zeroed(static_cast<std::size_t>(length));
    const int copied = static_cast<int>(GetDlgItemTextW(dialog, id, units.data(), length + 1));
    return Utf8Text(units.c_str(), copied);
}
