#pragma once
// Windows of the framework: a CWnd stands for one window of the window system while that exists.
// CMake puts the backend's folder (ui/framework/qt or ui/framework/win32) on the include path;
// its backend/handles.h says what a window, an icon and a device context are.

#include <memory>

#include "backend/handles.h"
#include "platform/winuser.h"

struct CRect {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    LONG Width() const noexcept { return right - left; }
    LONG Height() const noexcept { return bottom - top; }
};

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    void Attach(HWND window) noexcept { m_hWnd = window; }
    void Detach() noexcept { m_hWnd = nullptr; }
    HWND GetSafeHwnd() const noexcept { return m_hWnd; }

    // A modal message box owned by this window: the text, the caption, an icon by the style
    // (MB_ICONHAND: the error icon) and one OK button. Returns IDOK once it is dismissed.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);
    // WM_SETICON: the icon of the caption (ICON_SMALL) or of the task switcher (ICON_BIG).
    void SetIcon(HICON icon, BOOL bigIcon);
    BOOL IsIconic() const;
    void GetClientRect(CRect* rect) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

protected:
    HWND m_hWnd = nullptr;
};

class CButton : public CWnd {
public:
    // BST_CHECKED or BST_UNCHECKED; BST_UNCHECKED while no control is attached.
    int GetCheck() const;
};

// Paints a window inside its OnPaint, for as long as it lives.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window);
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC();

    HDC GetSafeHdc() const noexcept { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon);

private:
    struct PaintState;  // the backend's
    std::unique_ptr<PaintState> m_state;
    HDC m_hDC = nullptr;
};

// The window that owns a new dialog or message box: the parent's window, else the active modal
// window, else the active window, else the application's main window; null when there is none.
// A dialog that has ended (hidden) hands this on to its owner.
HWND AfxGetSafeOwner(const CWnd* parent);

// Shows the wait cursor for as long as it lives.
class CWaitCursor {
public:
    CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    ~CWaitCursor();
};
