#include "ui/framework/win_app.h"

#include <QApplication>

namespace {

CWinApp* theApplication = nullptr;

}  // namespace

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName != nullptr ? appName : "pintool") {
    theApplication = this;
}

CWinApp::~CWinApp() {
    if (theApplication == this) {
        theApplication = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

CWinApp* AfxGetApp() noexcept {
    return theApplication;
}

int AfxWinMain(int argc, char** argv) {
    QApplication application(argc, argv);
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    // A dialog application ends when InitInstance returns FALSE; otherwise it would run a
    // message loop of its own.
    return app->InitInstance() ? QApplication::exec() : 0;
}
