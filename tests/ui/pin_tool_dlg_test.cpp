#include "ui/pin_tool_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <cstdio>
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

}  // namespace
