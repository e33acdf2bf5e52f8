#include "ui/framework/dialog.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/framework/dialog_template_bytes.h"
#include "ui/framework/seams.h"
#include "ui/framework/win32/win32_support.h"

namespace {

// Where a dialog goes when its template puts it at 0,0: centred on its owner, or on the work
// area of its monitor when it has none (or the owner is hidden or minimised); always inside
// that work area.
void Centre(HWND dialog) {
    RECT own{};
    GetWindowRect(dialog, &own);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT area = monitor.rcWork;
    RECT around = area;
    const HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &around);
    }
    const LONG width = own.right - own.left;
    const LONG height = own.bottom - own.top;
    LONG x = around.left + (around.right - around.left - width) / 2;
    LONG y = around.top + (around.bottom - around.top - height) / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsEdit(HWND control) {
    wchar_t name[8] = {};
    return GetClassNameW(control, name, 8) > 0 && lstrcmpiW(name, L"Edit") == 0;
}

// A PIN stays in its edit control's text buffer until the control frees it, and in the heap
// after that. Text of the same length overwrites it in place (the buffer grows, but never moves
// for text that fits), then the field is emptied. What the user deleted while typing may stay
// in the control's undo buffer and behind the text's end; the control lets nothing reach
// those.
void WipePasswordFields(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD) == 0 || !IsEdit(child)) {
            continue;
        }
        const int length = GetWindowTextLengthW(child);
        if (length > 0) {
            const std::wstring filler(static_cast<std::size_t>(length), L'*');
            SetWindowTextW(child, filler.c_str());
        }
        SetWindowTextW(child, L"");
        SendMessageW(child, EM_EMPTYUNDOBUFFER, 0, 0);
    }
}

bool IsCloseRequest(UINT message, WPARAM wParam) {
    return message == WM_COMMAND || message == WM_CLOSE ||
           (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE);
}

}  // namespace

// The dialog procedure of every framework dialog: the window system's messages to the
// dialog's handlers.
struct DialogBackend {
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* dialog = reinterpret_cast<CDialog*>(lParam);
            SetPropW(window, kDialogProperty, dialog);
            dialog->Attach(window);
            Centre(window);
            const BOOL focusFirstTabStop = dialog->OnInitDialog();
            framework_seams::ScheduleModalHook(window);
            return focusFirstTabStop;
        }
        if (message == WM_DESTROY) {
            WipePasswordFields(window);  // its controls are destroyed after it
        }
        auto* dialog = static_cast<CDialog*>(GetPropW(window, kDialogProperty));
        if (dialog == nullptr) {
            return FALSE;
        }
        // Nothing the user does ends the dialog while a change runs on the worker thread.
        if (WindowsWaitForWork() && IsCloseRequest(message, wParam)) {
            return TRUE;
        }
        switch (message) {
            case WM_COMMAND:
                return dialog->OnCommand(HIWORD(wParam), LOWORD(wParam)) ? TRUE : FALSE;
            case WM_PAINT:
                dialog->m_paintedByDefault = false;
                dialog->OnPaint();
                return dialog->m_paintedByDefault ? FALSE : TRUE;
            case WM_QUERYDRAGICON:
                // One of the messages whose result the dialog procedure returns itself.
                return reinterpret_cast<INT_PTR>(dialog->OnQueryDragIcon());
            case WM_NCDESTROY:
                RemovePropW(window, kDialogProperty);
                return FALSE;
            default:
                return FALSE;
        }
    }
};

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    const HWND dialog = pDX->dialog().GetSafeHwnd();
    if (pDX->dialog().GetDlgItem(id) == nullptr) {
        return;
    }
    if (pDX->saving()) {
        value = DlgItemText(dialog, id);
    } else {
        SetDlgItemTextW(dialog, id, WideText(value).c_str());
    }
}

int CDialog::DoModal() {
    const DialogTemplate* dialog = FindDialogTemplate(m_templateId);
    if (dialog == nullptr) {
        return -1;
    }
    const std::vector<std::uint8_t> bytes = DialogTemplateBytes(*dialog);
    // A window of its own (WS_EX_APPWINDOW) has no owner; any other dialog is owned.
    const HWND owner =
        (dialog->exStyle & WS_EX_APPWINDOW) != 0 ? nullptr : AfxGetSafeOwner(m_parent);
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), owner,
        &DialogBackend::Procedure, reinterpret_cast<LPARAM>(this));
    Detached();
    return static_cast<int>(result);
}

void CDialog::EndDialog(int result) {
    if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, result);
    }
}
