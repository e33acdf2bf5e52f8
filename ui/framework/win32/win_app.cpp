#include "ui/framework/win_app.h"

#include <commctrl.h>

#include <cstdlib>

HICON CWinApp::LoadIcon(int id) const {
    // Icon group `id` of the program's own resources, in the size of SM_CXICON.
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
}

void AfxInitToolkit() {
    // The common controls of version 6 the manifest asks for, and the progress bar.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}

int AfxWinMain(int /*argc*/, char** /*argv*/) {
    AfxInitToolkit();
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    if (!app->InitInstance()) {
        return 0;  // a dialog application ends with its main window
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int AfxRefuseToStart(int /*argc*/, char** /*argv*/, const char* text, const char* caption) {
    AfxInitToolkit();
    CWnd().MessageBox(text, caption, MB_ICONHAND);
    return EXIT_FAILURE;
}
