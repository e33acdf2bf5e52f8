// What only the Qt backend has: its own file dialog, window types and owners on a desktop
// without the Windows window manager, accessibility names, message boxes it sizes itself.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include <map>

#include "tests/support/fixtures.h"
#include "tests/ui/driver.h"
#include "tests/ui/framework_seams.h"
#include "ui/pin_tool_dlg.h"

namespace {

using testing_support::Fixtures;
using testing_support::TempDir;
using ui_testing::Click;
using ui_testing::Key;
using ui_testing::ModalDriver;
using ui_testing::Press;
using ui_testing::TextOf;
using ui_testing::TypeHere;

// Every text a user reads in a dialog: labels, buttons (or their tool tips), list entries.
QStringList TextsOf(QWidget& dialog) {
    QStringList texts{dialog.windowTitle()};
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text().remove(QLatin1Char('&'));
    }
    for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        texts << (button->text().isEmpty() ? button->toolTip() : button->text())
                     .remove(QLatin1Char('&'));
    }
    return texts;
}

TEST(QtMainWindow, TheFileDialogIsGermanTakesTypedNamesAndStartsWhereTheCurrentFileIs) {
    const TempDir dir;
    const std::string original = Fixtures::Get().Bytes("legacy.p12");
    // A soft certificate whose name has no extension opens as typed, without ".p12".
    const std::string bare = dir / "zertifikat";
    testing_support::WriteAll(bare, original);
    ModalDriver driver;
    std::string field;
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_BUTTON_BROWSE);
        Press(main, Key::Escape);
    });
    QStringList texts, filters;
    QString firstFolder, secondFolder;
    driver.Then([&](HWND dialog) {
        texts = TextsOf(*dialog);
        for (const QComboBox* box : dialog->findChildren<QComboBox*>()) {
            if (box->objectName() == QStringLiteral("fileTypeCombo")) {
                for (int i = 0; i < box->count(); ++i) {
                    filters << box->itemText(i);
                }
            }
        }
        firstFolder = qobject_cast<QFileDialog*>(dialog)->directory().absolutePath();
        // The focus is in the name field.
        TypeHere(dialog, bare);
        Press(dialog, Key::Return);
    });
    driver.Then([&](HWND dialog) {
        secondFolder = qobject_cast<QFileDialog*>(dialog)->directory().absolutePath();
        Press(dialog, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    for (const char* german : {"Öffnen", "Suchen in:", "Dateiname:", "Dateien des Typs:",
                               "Abbrechen", "Zurück", "Übergeordnetes Verzeichnis"}) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(german)))
            << german << " in " << texts.join(QStringLiteral(" | ")).toStdString();
    }
    for (const char* english : {"Open", "Look in:", "File name:", "Cancel", "Back"}) {
        EXPECT_FALSE(texts.contains(QString::fromUtf8(english))) << english;
    }
    EXPECT_EQ(filters, QStringList{QStringLiteral("Softzertifikate (*.pfx,*.p12)")});
    EXPECT_EQ(field, bare);
    EXPECT_TRUE(driver.messages().empty());
    EXPECT_NE(firstFolder.toStdString(), dir.path());
    EXPECT_EQ(secondFolder.toStdString(), dir.path());
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(QtMainWindow, IsANormalWindowWithBothIconSizesThatOwnsThePinDialog) {
    ModalDriver driver;
    QWidget* mainWindow = nullptr;
    Qt::WindowType mainType = Qt::Widget, pinType = Qt::Widget;
    Qt::WindowModality mainModality = Qt::ApplicationModal;
    bool pinModal = false;
    QWidget* pinOwner = nullptr;
    bool smallIcon = false;
    driver.Then([&](HWND main) {
        mainWindow = main;
        mainType = main->windowType();
        mainModality = main->windowModality();
        smallIcon = main->windowIcon().availableSizes().contains(QSize(16, 16));
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Key::Escape);
    });
    driver.Then([&](HWND dialog) {
        pinType = dialog->windowType();
        pinModal = dialog->isModal();
        pinOwner = dialog->parentWidget();
        Press(dialog, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(mainType, Qt::Window);
    EXPECT_EQ(mainModality, Qt::NonModal);
    EXPECT_TRUE(smallIcon);  // the icon group's 16-pixel image, for the caption
    EXPECT_EQ(pinType, Qt::Dialog);
    EXPECT_TRUE(pinModal);
    EXPECT_EQ(pinOwner, mainWindow);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

// What a screen reader says for each control of a dialog, by id.
std::map<int, std::string> AccessibleNames(HWND dialog, std::initializer_list<int> ids) {
    std::map<int, std::string> names;
    for (const int id : ids) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(GetDlgItem(dialog, id));
        names[id] = face == nullptr ? "(none)" : face->text(QAccessible::Name).toStdString();
    }
    return names;
}

TEST(QtDialogs, ScreenReadersHearTheLabelsOfTheFieldsAndDurchsuchen) {
    ModalDriver driver;
    std::map<int, std::string> main, pin;
    driver.Then([&](HWND window) {
        main = AccessibleNames(
            window, {IDC_EDIT_FILE, IDC_BUTTON_BROWSE, IDC_BUTTON_RUN, IDC_RADIO_CHANGE_PIN, IDOK});
        Click(window, IDC_RADIO_CHANGE_PIN);
        Click(window, IDC_BUTTON_RUN);
        Press(window, Key::Escape);
    });
    driver.Then([&](HWND dialog) {
        pin = AccessibleNames(
            dialog, {IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN, IDC_EDIT_NEW_PIN_REPEAT, IDOK, IDCANCEL});
        Press(dialog, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(main, (std::map<int, std::string>{{IDC_EDIT_FILE, "Softzertifikat (Datei):"},
                                                {IDC_BUTTON_BROWSE, "Durchsuchen"},
                                                {IDC_BUTTON_RUN, "Ausführen"},
                                                {IDC_RADIO_CHANGE_PIN, "PIN ändern"},
                                                {IDOK, "Beenden"}}));
    EXPECT_EQ(pin, (std::map<int, std::string>{{IDC_EDIT_OLD_PIN, "Alte PIN:"},
                                               {IDC_EDIT_NEW_PIN, "Neue PIN:"},
                                               {IDC_EDIT_NEW_PIN_REPEAT, "Neue PIN (Wdh.):"},
                                               {IDOK, "PIN ändern"},
                                               {IDCANCEL, "Abbrechen"}}));
}

TEST(QtDialogs, MessageBoxesLeaveRoomForTheirCaption) {
    const TempDir dir;
    testing_support::WriteAll(dir / "text.p12", "kein PKCS#12");
    framework_seams::SetFileDialogHook(
        [&]() -> std::optional<std::string> { return dir / "text.p12"; });
    ModalDriver driver;
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        Press(main, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    framework_seams::SetFileDialogHook(nullptr);
    ASSERT_EQ(driver.messages().size(), 1u);
    const ui_testing::ShownMessage& box = driver.messages()[0];
    // A window manager's caption: bold, somewhat larger than the text, beside a close box.
    QFont title = QApplication::font("QMessageBox");
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.2);
    const QFontMetrics metrics(title);
    EXPECT_GE(box.width, metrics.horizontalAdvance(QString::fromStdString(box.caption)) +
                             3 * metrics.height());
}

}  // namespace
