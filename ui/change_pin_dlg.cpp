#include "ui/change_pin_dlg.h"

#include "core/soft_certificate.h"
#include "ui/framework/worker_thread.h"

const std::array<MessageMapEntry<CChangePinDlg>, 1> CChangePinDlg::kMessageMap = {{
    {BN_CLICKED, IDOK, &CChangePinDlg::OnChangePin},
}};

CChangePinDlg::CChangePinDlg(CWnd* parent) : CDialog(IDD_CHANGE_PIN, parent) {}

BOOL CChangePinDlg::OnInitDialog() {
    const BOOL focusFirst = CDialog::OnInitDialog();
    PrepareChangePin();  // while the user types, not after "PIN ändern"
    return focusFirst;
}

void CChangePinDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_EDIT_NEW_PIN, m_newPin);
    DDX_Text(pDX, IDC_EDIT_NEW_PIN_REPEAT, m_newPinRepeat);
    DDX_Text(pDX, IDC_EDIT_OLD_PIN, m_oldPin);
}

bool CChangePinDlg::OnCommand(UINT code, int id) {
    return RouteCommand<CChangePinDlg>(*this, kMessageMap, code, id) ||
           CDialog::OnCommand(code, id);
}

void CChangePinDlg::OnChangePin() {
    UpdateData(TRUE);
    Reason reason = Reason::None;
    // The key derivations of a strongly protected file take seconds; the windows keep
    // painting meanwhile, and nothing the user does stops the change halfway.
    const bool ran = RunOnWorkerThread(*this, [&] {
        m_outcome =
            ChangePin(m_certificate, m_path.CStr(), m_oldPin, m_newPin, m_newPinRepeat, reason);
    });
    if (!ran) {
        // Nothing was read or written; another try may find a thread.
        m_outcome = Outcome::CannotSave;
        reason = Reason::NoWorkerThread;
    }
    // A dialog the outcome ends goes before its message shows, which the main window then
    // owns. A window manager gives the focus to the window below the one that goes; a message
    // box and right after it the dialog below it leave it to a window that is gone, and the
    // focus to none of the tool's windows.
    switch (m_outcome) {
        case Outcome::PinChanged:
            CDialog::OnOK();
            break;
        case Outcome::FileChanged:
        case Outcome::FileGone:
            // The bytes held are no longer the file's: another try could only fail again.
            EndDialog(IDCANCEL);
            break;
        default:
            break;
    }
    const DetailedMessage message = MessageFor(m_outcome, reason);
    MessageBox(message.text.c_str(), kMessageCaption, message.style);
}
