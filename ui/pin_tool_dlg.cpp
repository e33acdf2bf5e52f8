#include "ui/pin_tool_dlg.h"

#include <filesystem>
#include <string>

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

void CPinToolDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    // Minimised: the icon centred in the client area.
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HICON CPinToolDlg::OnQueryDragIcon() {
    return m_hIcon;
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
    Reason reason = Reason::None;
    const Outcome outcome = OpenSoftCertificate(m_path, m_certificate, reason);
    if (outcome == Outcome::Accepted) {
        return;
    }
    const DetailedMessage message = MessageFor(outcome, reason);
    MessageBox(message.text.c_str(), kMessageCaption, message.style);
    // A file another program holds keeps its place and is read again on "Ausführen".
    if (outcome != Outcome::FileInUse) {
        m_path.Empty();
    }
}

namespace {

std::string ParentFolder(const char* path) {
    const std::u8string text(reinterpret_cast<const char8_t*>(path));
    const std::u8string parent = std::filesystem::path(text).parent_path().u8string();
    return std::string(parent.begin(), parent.end());
}

}  // namespace

void CPinToolDlg::OnBrowse() {
    CFileDialog dialog(TRUE, "*.p12", nullptr, 0, "Softzertifikate (*.pfx,*.p12)|*.pfx; *.p12||",
                       nullptr);
    // The dialog starts where the current file is. Paths are UTF-8 on both systems; as
    // char8_t text the path library reads them so on Windows too.
    const std::string folder = ParentFolder(static_cast<const char*>(m_path));
    if (!folder.empty()) {
        dialog.m_ofn.lpstrInitialDir = folder.c_str();
    }
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
    // A choice that could not be read while another program held the file is read now.
    if (!m_path.IsEmpty() && m_certificate.data() == nullptr) {
        OpenChosenFile();
        UpdateData(FALSE);
        if (m_certificate.data() == nullptr) {
            return;
        }
    }
    CChangePinDlg dialog(nullptr);
    dialog.m_path.Assign(static_cast<const char*>(m_path));
    dialog.m_certificate.Assign(m_certificate);
    dialog.DoModal();
    switch (dialog.m_outcome) {
        case Outcome::PinChanged:
        case Outcome::FileChanged:
            // The file on disk is no longer what the window holds: read it again, as a new
            // choice of the same path would, so that a further change starts from it.
            OpenChosenFile();
            break;
        case Outcome::FileGone:
            m_path.Empty();
            m_certificate.Free();
            break;
        default:
            break;
    }
    UpdateData(FALSE);
}
