#pragma once
// Windows of the framework: a CWnd stands for one Qt widget while that exists.

#include <QIcon>

#include "platform/winuser.h"

class QWidget;

using HICON = QIcon;

class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    void Attach(QWidget* widget) noexcept { m_hWnd = widget; }
    void Detach() noexcept { m_hWnd = nullptr; }
    QWidget* GetSafeHwnd() const noexcept { return m_hWnd; }

    // A modal message box owned by this window: the text, the caption, an icon by the style
    // (MB_ICONHAND: the error icon) and one OK button. Returns IDOK once it is dismissed.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);
    // The window's icon; Qt keeps one icon in all its sizes for both uses.
    void SetIcon(const HICON& icon, BOOL bigIcon);

protected:
    QWidget* m_hWnd = nullptr;
};

class CButton : public CWnd {
public:
    // BST_CHECKED or BST_UNCHECKED; BST_UNCHECKED while no control is attached.
    int GetCheck() const;
};

// The window that owns a new dialog or message box: the parent's window, else the active modal
// window, else the active window, else the application's main window; null when there is none.
QWidget* AfxGetSafeOwner(const CWnd* parent);

// Shows the wait cursor for as long as it lives.
class CWaitCursor {
public:
    CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    ~CWaitCursor();
};
