#include "ui/pin_tool_dlg.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdio>
#include <map>
#include <optional>

#include "core/outcome.h"
#include "platform/file_api.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_description.h"
#include "tests/ui/modal_driver.h"
#include "ui/framework/seams.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;
using ui_testing::Click;
using ui_testing::IdOf;
using ui_testing::ModalDriver;
using ui_testing::Press;
using ui_testing::TextOf;
using ui_testing::Type;
using ui_testing::TypeHere;

const std::string kOpenFailed =
    "Das Softzertifikat konnte mit der angegebenen alten PIN nicht verarbeitet werden!";
const std::string kNotSoftCertificate = "Die ausgewählte Datei ist kein Softzertifikat!";

// Answers the file dialogs with the names given, in turn; nothing stands for "Abbrechen".
class FileChoices {
public:
    explicit FileChoices(std::vector<std::optional<std::string>> names)
        : m_names(std::move(names)) {
        framework_seams::SetFileDialogHook([this]() -> std::optional<std::string> {
            if (m_next >= m_names.size()) {
                ADD_FAILURE() << "unexpected file dialog";
                return std::nullopt;
            }
            return m_names[m_next++];
        });
    }
    ~FileChoices() { framework_seams::SetFileDialogHook(nullptr); }

private:
    std::vector<std::optional<std::string>> m_names;
    std::size_t m_next = 0;
};

// Types the PINs into the PIN dialog and presses Enter, once for every outcome wanted.
ModalDriver::Step ChangeTo(const QString& oldPin, const QString& newPin) {
    return [=](QWidget& dialog) {
        Type(dialog, IDC_EDIT_OLD_PIN, oldPin);
        Type(dialog, IDC_EDIT_NEW_PIN, newPin);
        Type(dialog, IDC_EDIT_NEW_PIN_REPEAT, newPin);
        Press(dialog, Qt::Key_Return);
    };
}

struct Chosen {
    TempDir dir;
    std::string path = Fixtures::Get().CopyTo("legacy.p12", dir);
    std::string original = ReadAll(path);
};

TEST(MainWindow, ChooseChangeAndChangeAgainInOneSession) {
    const Chosen file;
    const FileChoices choices({file.path});
    ModalDriver driver;
    QString shownPath;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        shownPath = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);  // first change
        Click(main, IDC_BUTTON_RUN);  // second change, with the PIN the file has now
        Press(main, Qt::Key_Escape);
    });
    driver.Then(ChangeTo(QString::fromStdString(kPin), "zweite PIN"));
    driver.Then(ChangeTo("zweite PIN", "dritte PIN"));
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(shownPath.toStdString(), file.path);
    EXPECT_EQ(driver.texts(),
              (std::vector<std::string>{"Die PIN wurde geändert.", "Die PIN wurde geändert."}));
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "dritte PIN"), DescribePfx(file.original, kPin));
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(MainWindow, RunDoesNothingBeforePinAendernIsSelected) {
    const Chosen file;
    const FileChoices choices({file.path});
    ModalDriver driver;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Qt::Key_Escape);
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);  // no PIN dialog opened
    EXPECT_TRUE(driver.messages().empty());
}

TEST(MainWindow, WithoutAFileThePinDialogCannotOpenTheCertificate) {
    ModalDriver driver;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Qt::Key_Escape);
    });
    driver.Then([&](QWidget& dialog) {
        ChangeTo("alt", "neu")(dialog);
        Press(dialog, Qt::Key_Escape);
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.texts(), std::vector<std::string>{kOpenFailed});
}

TEST(MainWindow, AForeignFileIsRejectedAndForgotten) {
    const Chosen valid;
    testing_support::WriteAll(valid.dir / "text.p12", "kein PKCS#12");
    const FileChoices choices({valid.path, valid.dir / "text.p12"});
    ModalDriver driver;
    QString field;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        Press(main, Qt::Key_Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    ASSERT_EQ(driver.messages().size(), 1u);
    EXPECT_EQ(driver.messages()[0].text, kNotSoftCertificate);
    EXPECT_EQ(driver.messages()[0].caption, "Quintara(R) Tessaplan");
    EXPECT_EQ(driver.messages()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(field.isEmpty());
    EXPECT_STREQ(window.m_path, "");
    EXPECT_EQ(window.m_certificate.data(), nullptr);
}

TEST(MainWindow, AFileInUseKeepsItsPlaceAndIsReadOnRun) {
    const Chosen file;
    const FileChoices choices({file.path});
    HANDLE writer =
        CreateFileA(file.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ModalDriver driver;
    QString field;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        CloseHandle(writer);  // the other program is done
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Qt::Key_Escape);
    });
    driver.Then(ChangeTo(QString::fromStdString(kPin), "neue PIN"));
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(field.toStdString(), file.path);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{MessageFor(Outcome::FileInUse).text,
                                                        "Die PIN wurde geändert."}));
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "neue PIN"), DescribePfx(file.original, kPin));
}

TEST(MainWindow, AFileChangedMeanwhileIsReadAgainAndOneGoneIsForgotten) {
    const Chosen file;
    const std::string renewed = Fixtures::Get().Bytes("modern.p12");
    const FileChoices choices({file.path});
    ModalDriver driver;
    QString fieldAtEnd;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);  // the file is renewed while the PIN dialog is open
        Click(main, IDC_BUTTON_RUN);  // the renewed file, read again, is changed
        Click(main, IDC_BUTTON_RUN);  // the file goes while the PIN dialog is open
        fieldAtEnd = TextOf(main, IDC_EDIT_FILE);
        Press(main, Qt::Key_Escape);
    });
    driver.Then([&](QWidget& dialog) {
        testing_support::WriteAll(file.path, renewed);
        ChangeTo(QString::fromStdString(kPin), "neue PIN")(dialog);
    });
    driver.Then(ChangeTo(QString::fromStdString(kPin), "neue PIN"));
    std::string changed;
    driver.Then([&](QWidget& dialog) {
        changed = ReadAll(file.path);
        std::remove(file.path.c_str());
        ChangeTo("neue PIN", "dritte PIN")(dialog);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{MessageFor(Outcome::FileChanged).text,
                                                        "Die PIN wurde geändert.",
                                                        MessageFor(Outcome::FileGone).text}));
    EXPECT_EQ(DescribePfx(changed, "neue PIN"), DescribePfx(renewed, kPin));
    EXPECT_TRUE(fieldAtEnd.isEmpty());
    EXPECT_EQ(window.m_certificate.data(), nullptr);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(MainWindow, CancellingTheFileDialogDropsThePreviousChoice) {
    const Chosen file;
    const FileChoices choices({file.path, std::nullopt});
    ModalDriver driver;
    QString before, after;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        before = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_BUTTON_BROWSE);
        after = TextOf(main, IDC_EDIT_FILE);
        Press(main, Qt::Key_Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(before.toStdString(), file.path);
    EXPECT_TRUE(after.isEmpty());
    EXPECT_EQ(window.m_certificate.data(), nullptr);
    EXPECT_TRUE(driver.messages().empty());
}

TEST(MainWindow, OpensOnBeendenWithTheIconAndEnterEndsIt) {
    ModalDriver driver;
    int focus = 0;
    QList<QSize> iconSizes;
    driver.Then([&](QWidget& main) {
        focus = IdOf(main.focusWidget());
        iconSizes = main.windowIcon().availableSizes();
        Press(main, Qt::Key_F1);  // no help file: nothing happens
        Press(main, Qt::Key_Return);
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDOK);
    EXPECT_EQ(focus, IDOK);
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(driver.messages().empty());
}

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

TEST(MainWindow, TheWholeChangeByKeyboardAlone) {
    const Chosen file;
    ModalDriver driver;
    bool checkedByArrow = false;
    int focusAfterArrow = 0;
    driver.Then([&](QWidget& main) {
        Press(main, Qt::Key_Tab);     // "..."
        Press(main, Qt::Key_Return);  // the file dialog
        Press(main, Qt::Key_Tab);     // "Ausführen"
        Press(main, Qt::Key_Down);    // "PIN ändern", checked on arrival
        focusAfterArrow = IdOf(main.focusWidget());
        checkedByArrow =
            qobject_cast<QRadioButton*>(ui_testing::Control(main, IDC_RADIO_CHANGE_PIN))
                ->isChecked();
        Press(main, Qt::Key_Up);      // back to "Ausführen"
        Press(main, Qt::Key_Return);  // the PIN dialog
        Press(main, Qt::Key_Escape);
    });
    driver.Then([&](QWidget& fileDialog) {
        // The focus is in the name field.
        TypeHere(fileDialog, QString::fromStdString(file.path));
        Press(fileDialog, Qt::Key_Return);
    });
    driver.Then([&](QWidget& dialog) {
        Press(dialog, Qt::Key_Tab);  // "Abbrechen"
        Press(dialog, Qt::Key_Tab);  // "Alte PIN"
        TypeHere(dialog, QString::fromStdString(kPin));
        Press(dialog, Qt::Key_Tab);
        TypeHere(dialog, "neue PIN");
        Press(dialog, Qt::Key_Tab);
        TypeHere(dialog, "neue PIN");
        Press(dialog, Qt::Key_Return);  // the default button, "PIN ändern"
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(focusAfterArrow, IDC_RADIO_CHANGE_PIN);
    EXPECT_TRUE(checkedByArrow);
    EXPECT_EQ(driver.texts(), std::vector<std::string>{"Die PIN wurde geändert."});
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "neue PIN"), DescribePfx(file.original, kPin));
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(MainWindow, TheFileDialogIsGermanAndStartsWhereTheCurrentFileIs) {
    const Chosen file;
    // A soft certificate whose name has no extension opens as typed, without ".p12".
    const std::string bare = file.dir / "zertifikat";
    testing_support::WriteAll(bare, file.original);
    ModalDriver driver;
    QString field;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_BUTTON_BROWSE);
        Press(main, Qt::Key_Escape);
    });
    QStringList texts, filters;
    QString firstFolder, secondFolder;
    driver.Then([&](QWidget& dialog) {
        texts = TextsOf(dialog);
        for (const QComboBox* box : dialog.findChildren<QComboBox*>()) {
            if (box->objectName() == QStringLiteral("fileTypeCombo")) {
                for (int i = 0; i < box->count(); ++i) {
                    filters << box->itemText(i);
                }
            }
        }
        firstFolder = qobject_cast<QFileDialog*>(&dialog)->directory().absolutePath();
        TypeHere(dialog, QString::fromStdString(bare));
        Press(dialog, Qt::Key_Return);
    });
    driver.Then([&](QWidget& dialog) {
        secondFolder = qobject_cast<QFileDialog*>(&dialog)->directory().absolutePath();
        Press(dialog, Qt::Key_Escape);
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
    EXPECT_EQ(field.toStdString(), bare);
    EXPECT_TRUE(driver.messages().empty());
    EXPECT_NE(firstFolder.toStdString(), file.dir.path());
    EXPECT_EQ(secondFolder.toStdString(), file.dir.path());
}

TEST(MainWindow, IsANormalWindowThatOwnsThePinDialog) {
    ModalDriver driver;
    QWidget* mainWindow = nullptr;
    Qt::WindowType mainType = Qt::Widget, pinType = Qt::Widget;
    Qt::WindowModality mainModality = Qt::ApplicationModal;
    bool pinModal = false;
    QWidget* pinOwner = nullptr;
    driver.Then([&](QWidget& main) {
        mainWindow = &main;
        mainType = main.windowType();
        mainModality = main.windowModality();
        Press(main, Qt::Key_Tab);
        Press(main, Qt::Key_Tab);
        Press(main, Qt::Key_Down);
        Press(main, Qt::Key_Up);
        Press(main, Qt::Key_Return);
        Press(main, Qt::Key_Escape);
    });
    driver.Then([&](QWidget& dialog) {
        pinType = dialog.windowType();
        pinModal = dialog.isModal();
        pinOwner = dialog.parentWidget();
        Press(dialog, Qt::Key_Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(mainType, Qt::Window);
    EXPECT_EQ(mainModality, Qt::NonModal);
    EXPECT_EQ(pinType, Qt::Dialog);
    EXPECT_TRUE(pinModal);
    EXPECT_EQ(pinOwner, mainWindow);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

// What a screen reader says for each control of a dialog, by id.
std::map<int, std::string> AccessibleNames(QWidget& dialog, std::initializer_list<int> ids) {
    std::map<int, std::string> names;
    for (const int id : ids) {
        QAccessibleInterface* face =
            QAccessible::queryAccessibleInterface(ui_testing::Control(dialog, id));
        names[id] = face == nullptr ? "(none)" : face->text(QAccessible::Name).toStdString();
    }
    return names;
}

TEST(Dialogs, ScreenReadersHearTheLabelsOfTheFieldsAndDurchsuchen) {
    ModalDriver driver;
    std::map<int, std::string> main, pin;
    driver.Then([&](QWidget& window) {
        main = AccessibleNames(
            window, {IDC_EDIT_FILE, IDC_BUTTON_BROWSE, IDC_BUTTON_RUN, IDC_RADIO_CHANGE_PIN, IDOK});
        Click(window, IDC_RADIO_CHANGE_PIN);
        Click(window, IDC_BUTTON_RUN);
        Press(window, Qt::Key_Escape);
    });
    driver.Then([&](QWidget& dialog) {
        pin = AccessibleNames(
            dialog, {IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN, IDC_EDIT_NEW_PIN_REPEAT, IDOK, IDCANCEL});
        Press(dialog, Qt::Key_Escape);
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

TEST(Dialogs, MessageBoxesLeaveRoomForTheirCaption) {
    const Chosen valid;
    testing_support::WriteAll(valid.dir / "text.p12", "kein PKCS#12");
    const FileChoices choices({valid.dir / "text.p12"});
    ModalDriver driver;
    driver.Then([&](QWidget& main) {
        Click(main, IDC_BUTTON_BROWSE);
        Press(main, Qt::Key_Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    ASSERT_EQ(driver.messages().size(), 1u);
    const ui_testing::ShownMessage& box = driver.messages()[0];
    // A window manager's caption: bold, somewhat larger than the text, beside a close box.
    QFont title = box.font;
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.2);
    const QFontMetrics metrics(title);
    EXPECT_GE(box.width, metrics.horizontalAdvance(QString::fromStdString(box.caption)) +
                             3 * metrics.height());
}

}  // namespace
