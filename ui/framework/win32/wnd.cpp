#include "ui/framework/wnd.h"

#include "ui/framework/seams.h"
#include "ui/framework/win32/win32_support.h"
#include "ui/framework/win_app.h"

HWND AfxGetSafeOwner(const CWnd* parent) {
    HWND owner = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
    if (owner == nullptr) {
        owner = GetActiveWindow();  // this thread's: the dialog in front
    }
    if (owner == nullptr) {
        const CWinApp* app = AfxGetApp();
        owner =
            app != nullptr && app->m_pMainWnd != nullptr ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    }
    owner = owner != nullptr ? GetAncestor(owner, GA_ROOT) : nullptr;
    // A dialog that has ended is hidden: its owner owns what it shows.
    while (owner != nullptr && !IsWindowVisible(owner) && GetWindow(owner, GW_OWNER) != nullptr) {
        owner = GetWindow(owner, GW_OWNER);
    }
    return owner;
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    const HWND owner = AfxGetSafeOwner(this);
    // A test sees the box once it is shown: it has no handle before that.
    framework_seams::ScheduleModalHook(nullptr);
    MessageBoxW(owner, WideText(text).c_str(), WideText(caption).c_str(), type);
    return IDOK;
}

void CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    if (m_hWnd != nullptr) {
        SendMessageW(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(icon));
    }
}

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && ::IsIconic(m_hWnd) ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
    RECT client{};
    if (m_hWnd != nullptr) {
        ::GetClientRect(m_hWnd, &client);
    }
    *rect = CRect{client.left, client.top, client.right, client.bottom};
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd != nullptr ? SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK)) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
}

struct CPaintDC::PaintState {
    HWND window;
    PAINTSTRUCT paint;
};

CPaintDC::CPaintDC(CWnd* window) {
    if (window != nullptr && window->GetSafeHwnd() != nullptr) {
        m_state = std::make_unique<PaintState>();
        m_state->window = window->GetSafeHwnd();
        m_hDC = BeginPaint(m_state->window, &m_state->paint);
    }
}

CPaintDC::~CPaintDC() {
    if (m_state != nullptr) {
        EndPaint(m_state->window, &m_state->paint);
    }
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
    return m_hDC != nullptr && ::DrawIcon(m_hDC, x, y, icon) ? TRUE : FALSE;
}

CWaitCursor::CWaitCursor() {
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

CWaitCursor::~CWaitCursor() {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}
