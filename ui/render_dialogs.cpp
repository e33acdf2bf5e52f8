// Renders every dialog template to a PNG file in the directory given (default: the current
// one), so that a person can look at the layout without a display.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "res/resource.h"
#include "ui/framework/dialog_window.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    const struct {
        int id;
        const char* file;
    } dialogs[] = {{IDD_MAIN, "main-window.png"}, {IDD_CHANGE_PIN, "pin-dialog.png"}};
    for (const auto& dialog : dialogs) {
        CDialogWindow window(*FindDialogTemplate(dialog.id), nullptr, [](int) {});
        window.show();
        const QString path = out.filePath(QString::fromLatin1(dialog.file));
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
