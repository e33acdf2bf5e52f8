#include "ui/framework/win_app.h"

namespace {

CWinApp* theApplication = nullptr;

}  // namespace

CWinApp::CWinApp(const char* /*appName*/) {
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
