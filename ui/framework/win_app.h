#pragma once
// The application object and the framework's entry.

#include "ui/framework/wnd.h"

inline constexpr int ID_HELP = 0xE146;

class CWinApp {
public:
    // The one application object. The name would key settings; the tool keeps none.
    explicit CWinApp(const char* appName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // Runs once at start; FALSE ends the process without a message loop.
    virtual BOOL InitInstance();

    // The icon group with the id, from the program's resources (":/icons/<id>.ico").
    HICON LoadIcon(int id) const;

    CWnd* m_pMainWnd = nullptr;
    // The desktop entry the windows belong to ("de.quintara.pintool"), so that shells match
    // them to it; null for none.
    const char* m_pszDesktopFileName = nullptr;
};

CWinApp* AfxGetApp() noexcept;

// Sets up the toolkit once it runs (AfxWinMain does; whoever starts Qt otherwise calls it):
// Qt's own texts in German whatever the user's locale, German number and date formats, no
// settings file of Qt's, and the application's desktop entry.
void AfxInitToolkit();

// The framework's entry: starts Qt, runs the application object's InitInstance once and
// returns the process's exit status. The command line is not passed on: the tool has no
// options, and Qt's own (-style, -reverse, ...) would change how it looks.
int AfxWinMain(int argc, char** argv);

// Instead of AfxWinMain, when the program must not start: starts the toolkit only to show
// `text` under `caption` in a message box, and returns the status of a failed start once it is
// confirmed. The application object's InitInstance does not run.
int AfxRefuseToStart(int argc, char** argv, const char* text, const char* caption);
