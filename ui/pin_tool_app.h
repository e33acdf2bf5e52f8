#pragma once
// The application: runs the main window and ends with it.

#include "ui/framework/win_app.h"

class CPinToolApp : public CWinApp {
public:
    CPinToolApp();
    BOOL InitInstance() override;
};
