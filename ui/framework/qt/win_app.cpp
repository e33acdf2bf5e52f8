#include "ui/framework/win_app.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>
#include <cstdlib>
#include <map>

HICON CWinApp::LoadIcon(int id) const {
    // Like the system's icons, loaded once and kept for the process.
    static std::map<int, QIcon> icons;
    auto [entry, added] = icons.try_emplace(id);
    if (added) {
        entry->second = QIcon(QStringLiteral(":/icons/%1.ico").arg(id));
    }
    return &entry->second;
}

void AfxInitToolkit() {
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(german);
    // Owned by the application, which uninstalls it when it goes.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    // Qt's file dialog writes the folders it visited to the user's "QtProject" settings when
    // it closes, and nothing turns that off. The tool keeps no settings: Qt's user settings
    // live where no file can be made.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null/no-settings"));
    }
    const CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pszDesktopFileName != nullptr) {
        QGuiApplication::setDesktopFileName(QString::fromUtf8(app->m_pszDesktopFileName));
    }
}

namespace {

// Runs `body` once Qt is started and set up. The command line is not passed on: the tool has
// no options, and Qt's own (-style, -reverse, ...) would change how it looks.
template <typename Body>
int WithToolkit(int argc, char** argv, Body body) {
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication application(qtArgc, qtArgv);
    AfxInitToolkit();
    return body();
}

}  // namespace

int AfxWinMain(int argc, char** argv) {
    return WithToolkit(argc, argv, [] {
        CWinApp* app = AfxGetApp();
        if (app == nullptr) {
            return 1;
        }
        // A dialog application ends when InitInstance returns FALSE; otherwise it would run a
        // message loop of its own.
        return app->InitInstance() ? QApplication::exec() : 0;
    });
}

int AfxRefuseToStart(int argc, char** argv, const char* text, const char* caption) {
    return WithToolkit(argc, argv, [&] {
        CWnd().MessageBox(text, caption, MB_ICONHAND);
        return EXIT_FAILURE;
    });
}
