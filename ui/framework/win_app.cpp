#include "ui/framework/win_app.h"

#include <QApplication>

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

HICON CWinApp::LoadIcon(int id) const {
    return QIcon(QStringLiteral(":/icons/%1.ico").arg(id));
}

CWinApp* AfxGetApp() noexcept {
    return theApplication;
}

int AfxWinMain(int argc, char** argv) {
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication application(qtArgc, qtArgv);
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    // A dialog application ends when InitInstance returns FALSE; otherwise it would run a
    // message loop of its own.
    return app->InitInstance() ? QApplication::exec() : 0;
}
