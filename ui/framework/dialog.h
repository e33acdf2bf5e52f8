#pragma once
// Modal dialogs made from templates, with data exchange and message maps.

#include <memory>
#include <span>
#include <vector>

#include "ui/framework/cstring.h"
#include "ui/framework/wnd.h"

class CDialog;

// One direction of one data exchange.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate) noexcept
        : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate) {}

    CDialog& dialog() const noexcept { return m_dialog; }
    bool saving() const noexcept { return m_bSaveAndValidate; }

private:
    CDialog& m_dialog;
    bool m_bSaveAndValidate;
};

// An edit control's whole text to or from a string.
void DDX_Text(CDataExchange* pDX, int id, CString& value);
// Binds a control to a member on the first exchange, so that its state can be read.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A message map entry: a notification from a control runs a member of the dialog.
template <typename Dialog>
struct MessageMapEntry {
    UINT code;
    int id;
    void (Dialog::*handler)();
};

// Runs the entry of `map` for the notification, if there is one.
template <typename Dialog>
bool RouteCommand(Dialog& dialog, std::span<const MessageMapEntry<Dialog>> map, UINT code, int id) {
    for (const MessageMapEntry<Dialog>& entry : map) {
        if (entry.code == code && entry.id == id) {
            (dialog.*entry.handler)();
            return true;
        }
    }
    return false;
}

class CDialog : public CWnd {
public:
    // No window exists until DoModal. Without a parent AfxGetSafeOwner picks the owner.
    explicit CDialog(int templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the window from the template, runs it modally and returns what EndDialog got.
    virtual int DoModal();
    void EndDialog(int result);
    // TRUE: controls to members; FALSE: members to controls.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The control with the id while the window exists, else null.
    HWND GetDlgItem(int id) const;
    // Attaches `control` to the control with the id until the window goes.
    void BindControl(int id, CWnd& control);

protected:
    // First exchange to the controls; TRUE gives the focus to the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    // A dialog's own map comes first; this one ends the dialog on IDOK and IDCANCEL.
    virtual bool OnCommand(UINT code, int id);
    // WM_PAINT; this one leaves the painting to the window system.
    virtual void OnPaint();
    // WM_QUERYDRAGICON: the icon shown while the minimised window is dragged; null: the
    // window system's.
    virtual HICON OnQueryDragIcon();

private:
    friend struct DialogBackend;  // the window system's side, which calls the handlers above

    // Where the window ends once its modal loop returns.
    void Detached();

    int m_templateId;
    CWnd* m_parent;
    std::vector<CWnd*> m_boundControls;
    bool m_paintedByDefault = false;  // OnPaint left the painting to the window system
};
