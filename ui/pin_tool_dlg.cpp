#include "ui/pin_tool_dlg.h"

#include "core/soft_certificate.h"
#include "ui/change_pin_dlg.h"
#include "ui/framework/file_dialog.h"
#include "ui/framework/win_app.h"

const std::array<MessageMapEntry<CPinToolDlg>, 2> CPinToolDlg::kMessageMap = {{
    {BN_CLICKED, IDC_BUTTON_BROWSE, &CPinToolDlg::OnBrowse},
    {BN_CLICKED, IDC_BUTTON_RUN, &CPinToolDlg::OnRun},
}};

CPinToolDlg::CPinToolDlg(CWnd* parent)
    : CDialog(IDD_MAIN, parent), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

BOOL CPinToolDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    return TRUE;
}

void CPinToolDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_EDIT_FILE, m_path);
    DDX_Control(pDX, IDC_RADIO_CHANGE_PIN, m_operation);
}

bool CPinToolDlg::OnCommand(UINT code, int id) {
    return RouteCommand<CPinToolDlg>(*this, kMessageMap, code, id) || CDialog::OnCommand(code, id);
}

void CPinToolDlg::OpenChosenFile() {
    if (OpenSoftCertificate(m_path, m_certificate) == Outcome::NotSoftCertificate) {
        const OutcomeMessage message = MessageFor(Outcome::NotSoftCertificate);
        MessageBox(message.text, kMessageCaption, message.style);
        m_path.Empty();
    }
}

void CPinToolDlg::OnBrowse() {
    CFileDialog dialog(TRUE, "*.p12", nullptr, 0, "Softzertifikate (*.pfx,*.p12)|*.pfx; *.p12||",
                       nullptr);
    if (dialog.DoModal() == IDOK) {
        m_path = dialog.GetPathName();
        OpenChosenFile();
    } else {
        m_path.Empty();
        m_certificate.Free();
    }
    UpdateData(FALSE);
}

void CPinToolDlg::OnRun() {
    UpdateData(FALSE);
    if (m_operation.GetCheck() != BST_CHECKED) {
        return;
    }
    CChangePinDlg dialog(nullptr);
    dialog.m_path.Assign(static_cast<const char*>(m_path));
    dialog.m_certificate.Assign(m_certificate);
    // After a change the file on disk is no longer what the window holds: read it again, as
    // a new choice of the same path would, so that a further change starts from it.
    if (dialog.DoModal() == IDOK) {
        OpenChosenFile();
        UpdateData(FALSE);
    }
}
