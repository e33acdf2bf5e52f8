#include "ui/pin_tool_app.h"

#include "ui/pin_tool_dlg.h"

CPinToolApp::CPinToolApp() : CWinApp(nullptr) {
    m_pszDesktopFileName = "de.quintara.pintool";
}

BOOL CPinToolApp::InitInstance() {
    CPinToolDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the tool ends with its main window.
    return FALSE;
}
