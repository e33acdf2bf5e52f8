#pragma once
// What the Win32 backend's sources share: text for the system's W functions, and how a
// framework dialog is known by its window.

#include "platform/secret.h"
#include "ui/framework/cstring.h"
#include "ui/framework/wnd.h"

// UTF-8 (the tool's text, and the ANSI code page) as UTF-16 for the W functions. It may hold a
// PIN, so it is held as a secret.
class WideText {
public:
    explicit WideText(const char* text);

    const wchar_t* c_str() const noexcept { return m_units.c_str(); }

private:
    WideSecret m_units;
};

// UTF-16 from the system as the tool's UTF-8; every copy made on the way is wiped.
CString Utf8Text(const wchar_t* text, int length);
// The whole text of a dialog's control (GetDlgItemTextW), as UTF-8.
CString DlgItemText(HWND dialog, int id);

// The window property by which a window is known as one of the framework's dialogs.
inline constexpr wchar_t kDialogProperty[] = L"pintool.CDialog";

// True while a worker thread runs and the windows take no input.
bool WindowsWaitForWork() noexcept;
