#include "ui/framework/dialog.h"

#include <QLineEdit>

#include "platform/memory_api.h"
#include "ui/framework/dialog_window.h"
#include "ui/framework/seams.h"

namespace {

// A PIN's way into a CString leaves copies in Qt's strings. A copy only this code holds is
// wiped before Qt frees it; one still shared, as the line edit's text is, belongs to the edit,
// and writing to it would only make another copy.
template <typename QtString>
void WipeIfOwned(QtString& text) {
    if (!text.isEmpty() && text.isDetached()) {
        SecureZeroMemory(text.data(), static_cast<std::size_t>(text.size()) * sizeof(*text.data()));
    }
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    auto* edit = qobject_cast<QLineEdit*>(pDX->dialog().GetDlgItem(id));
    if (edit == nullptr) {
        return;
    }
    if (!pDX->saving()) {
        edit->setText(QString::fromUtf8(static_cast<const char*>(value)));
        return;
    }
    QString text = edit->text();
    QByteArray bytes = text.toUtf8();
    value = bytes.constData();
    WipeIfOwned(bytes);
    WipeIfOwned(text);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.GetSafeHwnd() == nullptr) {
        pDX->dialog().BindControl(id, control);
    }
}

CDialog::CDialog(int templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    const DialogTemplate* dialog = FindDialogTemplate(m_templateId);
    if (dialog == nullptr) {
        return -1;
    }
    CDialogWindow window(*dialog, AfxGetSafeOwner(m_parent),
                         [this](int id) { OnCommand(BN_CLICKED, id); });
    m_window = &window;
    Attach(&window);
    if (OnInitDialog()) {
        if (QWidget* first = window.FirstTabStop()) {
            first->setFocus(Qt::TabFocusReason);  // recorded now, given when shown
        }
    }
    framework_seams::ScheduleModalHook(window);
    const int result = window.RunModal();
    for (CWnd* control : m_boundControls) {
        control->Detach();
    }
    m_boundControls.clear();
    Detach();
    m_window = nullptr;
    return result;
}

void CDialog::EndDialog(int result) {
    if (m_window != nullptr) {
        m_window->done(result);
    }
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(*this, saveAndValidate != FALSE);
    DoDataExchange(&exchange);
    return TRUE;
}

QWidget* CDialog::GetDlgItem(int id) const {
    return m_window != nullptr ? m_window->Control(id) : nullptr;
}

void CDialog::BindControl(int id, CWnd& control) {
    if (QWidget* widget = GetDlgItem(id)) {
        control.Attach(widget);
        m_boundControls.push_back(&control);
    }
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
