// Renders the main window and the PIN dialog of the real program to PNG files in the
// directory given (default: the current one), so that a person can look at them without a
// display. The dialogs run as in the tool; a modal hook takes the pictures and closes them.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>

#include "res/resource.h"
#include "tests/ui/framework_seams.h"
#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"
#include "ui/pin_tool_dlg.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    CPinToolApp app;
    QApplication application(argc, argv);
    AfxInitToolkit();
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool saved = true;
    int shown = 0;
    const auto save = [&](HWND window, const char* name) {
        const QString path = out.filePath(QString::fromLatin1(name));
        saved = window->grab().save(path) && saved;
        std::printf("%s\n", qPrintable(path));
    };
    framework_seams::SetModalHook([&](HWND window) {
        if (++shown == 1) {
            save(window, "main-window.png");
            // "PIN ändern", then "Ausführen": the PIN dialog opens inside this call.
            static_cast<QRadioButton*>(GetDlgItem(window, IDC_RADIO_CHANGE_PIN))->click();
            static_cast<QPushButton*>(GetDlgItem(window, IDC_BUTTON_RUN))->click();
            window->close();
        } else {
            save(window, "pin-dialog.png");
            window->close();
        }
    });
    CPinToolDlg dialog;
    app.m_pMainWnd = &dialog;
    dialog.DoModal();
    if (!saved || shown != 2) {
        std::fprintf(stderr, "rendering failed\n");
        return 1;
    }
    return 0;
}
