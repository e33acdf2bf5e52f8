#include "ui/framework/dialog.h"

#include <QLineEdit>

#include "platform/memory_api.h"
#include "ui/framework/qt/dialog_window.h"
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
