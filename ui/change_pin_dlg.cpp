#include "ui/change_pin_dlg.h"

#include "core/soft_certificate.h"

const std::array<MessageMapEntry<CChangePinDlg>, 1> CChangePinDlg::kMessageMap = {{
    {BN_CLICKED, IDOK, &CChangePinDlg::OnChangePin},
}};

CChangePinDlg::CChangePinDlg(CWnd* parent) : CDialog(IDD_CHANGE_PIN, parent) {}

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
    Outcome outcome = Outcome::CannotSave;
    {
        // The key derivations of a strongly protected file can take a moment.
        const CWaitCursor wait;
        outcome = ChangePin(m_certificate, m_path.CStr(), m_oldPin, m_newPin, m_newPinRepeat);
    }
    const OutcomeMessage message = MessageFor(outcome);
    MessageBox(message.text, kMessageCaption, message.style);
    if (outcome == Outcome::PinChanged) {
        CDialog::OnOK();
    }
}
