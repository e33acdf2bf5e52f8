#include "ui/framework/dialog.h"

// What CDialog does alike on every window system.

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.GetSafeHwnd() == nullptr) {
        pDX->dialog().BindControl(id, control);
    }
}

CDialog::CDialog(int templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(*this, saveAndValidate != FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

HWND CDialog::GetDlgItem(int id) const {
    return m_hWnd != nullptr && id != IDC_STATIC ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

void CDialog::BindControl(int id, CWnd& control) {
    if (HWND window = GetDlgItem(id)) {
        control.Attach(window);
        m_boundControls.push_back(&control);
    }
}

void CDialog::Detached() {
    for (CWnd* control : m_boundControls) {
        control->Detach();
    }
    m_boundControls.clear();
    Detach();
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

bool CDialog::OnCommand(UINT code, int id) {
    if (code != BN_CLICKED) {
        return false;
    }
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnPaint() {
    m_paintedByDefault = true;
}

HICON CDialog::OnQueryDragIcon() {
    return nullptr;
}
