#include "ui/framework/dialog.h"

#include <QLineEdit>

#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/qt/pin_edit.h"
#include "ui/framework/seams.h"

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    QWidget* control = pDX->dialog().GetDlgItem(id);
    // A PIN goes from secret to secret.
    if (auto* pin = dynamic_cast<CPinEdit*>(control)) {
        if (pDX->saving()) {
            value = pin->Pin().c_str();
        } else {
            pin->SetPin(value, static_cast<std::size_t>(value.GetLength()));
        }
        return;
    }
    auto* edit = qobject_cast<QLineEdit*>(control);
    if (edit == nullptr) {
        return;
    }
    if (pDX->saving()) {
        value = edit->text().toUtf8().constData();
    } else {
        edit->setText(QString::fromUtf8(static_cast<const char*>(value)));
    }
}

// Calls the dialog's handlers for its window.
struct DialogBackend {
    static void Command(CDialog& dialog, int id) { dialog.OnCommand(BN_CLICKED, id); }
    // Whether the dialog left the painting to Qt.
    static bool Paint(CDialog& dialog) {
        dialog.m_paintedByDefault = false;
        dialog.OnPaint();
        return dialog.m_paintedByDefault;
    }
    static void Ended(CDialog& dialog) { dialog.Detached(); }
};

int CDialog::DoModal() {
    const DialogTemplate* dialog = FindDialogTemplate(m_templateId);
    if (dialog == nullptr) {
        return -1;
    }
    CDialogWindow window(
        *dialog, AfxGetSafeOwner(m_parent), [this](int id) { DialogBackend::Command(*this, id); },
        [this] { return DialogBackend::Paint(*this); });
    Attach(&window);
    if (OnInitDialog()) {
        if (QWidget* first = window.FirstTabStop()) {
            first->setFocus(Qt::TabFocusReason);  // recorded now, given when shown
        }
    }
    framework_seams::ScheduleModalHook(&window);
    const int result = window.RunModal();
    DialogBackend::Ended(*this);
    return result;
}

void CDialog::EndDialog(int result) {
    if (auto* window = static_cast<CDialogWindow*>(m_hWnd)) {
        window->done(result);
    }
}
