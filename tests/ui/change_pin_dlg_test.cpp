#include "ui/change_pin_dlg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <cstdio>
#include <functional>

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

const QString kWidePin = QString::fromUtf8(kPin.c_str());
const std::string kOpenFailed =
    "Das Softzertifikat konnte mit der angegebenen alten PIN nicht verarbeitet werden!";

// A PIN dialog on a copy of a fixture, as the main window prepares it.
struct PinDialog {
    TempDir dir;
    std::string path;
    std::string original;
    CChangePinDlg dialog;

    PinDialog()
        : PinDialog([](const TempDir& in) { return Fixtures::Get().CopyTo("modern.p12", in); }) {}
    // `make` puts the file into the dialog's directory and returns its path.
    explicit PinDialog(const std::function<std::string(const TempDir&)>& make)
        : path(make(dir)), original(ReadAll(path)) {
        dialog.m_path.Assign(path.c_str());
        dialog.m_certificate.LoadFromFile(path.c_str(), 0, 0);
    }
    bool Unchanged() const { return ReadAll(path) == original && dir.List().size() == 1; }
};

void TypePins(QWidget& window, const QString& oldPin, const QString& newPin,
              const QString& repeat) {
    Type(window, IDC_EDIT_OLD_PIN, oldPin);
    Type(window, IDC_EDIT_NEW_PIN, newPin);
    Type(window, IDC_EDIT_NEW_PIN_REPEAT, repeat);
}

void Clear(QWidget& window, int id) {
    qobject_cast<QLineEdit*>(ui_testing::Control(window, id))->clear();
}

TEST(ChangePinDialog, EnterRightAfterOpeningAsksForTheOldPin) {
    PinDialog pin;
    ModalDriver driver;
    int focusAtOpen = 0;
    driver.Then([&](QWidget& window) {
        focusAtOpen = IdOf(window.focusWidget());
        Press(window, Qt::Key_Return);
        Press(window, Qt::Key_Escape);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(focusAtOpen, IDOK);
    ASSERT_EQ(driver.messages().size(), 1u);
    EXPECT_EQ(driver.messages()[0].text, "Sie müssen die alte PIN angeben!");
    EXPECT_EQ(driver.messages()[0].caption, "Quintara(R) Tessaplan");
    EXPECT_EQ(driver.messages()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(driver.messages()[0].buttons, 1);
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, FailuresKeepTheEntriesAndACorrectedTrySucceeds) {
    PinDialog pin;
    ModalDriver driver;
    QString afterFailure[3];
    driver.Then([&](QWidget& window) {
        TypePins(window, "falsch", "neu 1", "neu 2");
        Press(window, Qt::Key_Return);  // in the last field: the default button
        Clear(window, IDC_EDIT_NEW_PIN_REPEAT);
        Type(window, IDC_EDIT_NEW_PIN_REPEAT, "neu 1");
        Press(window, Qt::Key_Return);
        afterFailure[0] = TextOf(window, IDC_EDIT_OLD_PIN);
        afterFailure[1] = TextOf(window, IDC_EDIT_NEW_PIN);
        afterFailure[2] = TextOf(window, IDC_EDIT_NEW_PIN_REPEAT);
        Clear(window, IDC_EDIT_OLD_PIN);
        Type(window, IDC_EDIT_OLD_PIN, kWidePin);
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{
                                  "Die neue PIN und die Eingabe im Wiederholungsfeld sind nicht "
                                  "identisch!",
                                  kOpenFailed, "Die PIN wurde geändert."}));
    EXPECT_EQ(afterFailure[0], "falsch");
    EXPECT_EQ(afterFailure[1], "neu 1");
    EXPECT_EQ(afterFailure[2], "neu 1");
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu 1"), DescribePfx(pin.original, kPin));
    // What OnOK exchanged last is what the user typed.
    EXPECT_STREQ(pin.dialog.m_oldPin, kPin.c_str());
}

TEST(ChangePinDialog, CancelAfterFailedAttemptsLeavesTheFileAlone) {
    PinDialog pin;
    ModalDriver driver;
    driver.Then([&](QWidget& window) {
        TypePins(window, "falsch", "neu", "neu");
        Click(window, IDOK);
        Click(window, IDOK);
        Click(window, IDCANCEL);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{kOpenFailed, kOpenFailed}));
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, AFileThatCannotBeWrittenSaysWhyAndStaysOpen) {
    PinDialog pin;
    chmod(pin.path.c_str(), 0444);
    ModalDriver driver;
    bool stillOpen = false;
    driver.Then([&](QWidget& window) {
        TypePins(window, kWidePin, "neu", "neu");
        Click(window, IDOK);
        stillOpen = window.isVisible();
        window.close();  // the close box
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(driver.messages().size(), 1u);
    EXPECT_EQ(driver.messages()[0].text,
              "Die PIN konnte nicht geändert werden. Das Softzertifikat ist unverändert.\n"
              "Die Datei ist schreibgeschützt, oder Sie haben keine Berechtigung, sie zu ändern.");
    EXPECT_EQ(driver.messages()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, AFileChangedOrGoneMeanwhileEndsTheDialog) {
    for (const bool gone : {false, true}) {
        PinDialog pin;
        const std::string renewed = Fixtures::Get().Bytes("legacy.p12");
        ModalDriver driver;
        bool stillOpen = true;
        driver.Then([&](QWidget& window) {
            if (gone) {
                std::remove(pin.path.c_str());
            } else {
                testing_support::WriteAll(pin.path, renewed);
            }
            TypePins(window, kWidePin, "neu", "neu");
            Click(window, IDOK);
            stillOpen = window.isVisible();
            window.close();
        });
        EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
        EXPECT_FALSE(stillOpen);
        EXPECT_EQ(pin.dialog.m_outcome, gone ? Outcome::FileGone : Outcome::FileChanged);
        EXPECT_EQ(driver.texts(),
                  std::vector<std::string>{
                      MessageFor(gone ? Outcome::FileGone : Outcome::FileChanged).text});
        EXPECT_EQ(driver.unexpectedDialogs(), 0);
        if (!gone) {
            EXPECT_EQ(ReadAll(pin.path), renewed);
        }
        EXPECT_EQ(pin.dir.List().size(), gone ? 0u : 1u);
    }
}

TEST(ChangePinDialog, PinFieldsAreMasked) {
    PinDialog pin;
    ModalDriver driver;
    std::vector<QLineEdit::EchoMode> modes;
    std::vector<QString> shown;
    driver.Then([&](QWidget& window) {
        TypePins(window, "geheim", "neu", "neu");
        for (const int id : {IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN, IDC_EDIT_NEW_PIN_REPEAT}) {
            const auto* edit = qobject_cast<QLineEdit*>(ui_testing::Control(window, id));
            modes.push_back(edit->echoMode());
            shown.push_back(edit->displayText());
        }
        Press(window, Qt::Key_Escape);
    });
    pin.dialog.DoModal();
    EXPECT_EQ(modes, std::vector<QLineEdit::EchoMode>(3, QLineEdit::Password));
    for (const QString& text : shown) {
        EXPECT_FALSE(text.contains(QStringLiteral("geheim")) ||
                     text.contains(QStringLiteral("neu")));
    }
}

TEST(ChangePinDialog, TabFollowsTheTemplateOrderAndEnterPressesTheFocusedButton) {
    PinDialog pin;
    ModalDriver driver;
    std::vector<int> visited;
    driver.Then([&](QWidget& window) {
        for (int i = 0; i < 6; ++i) {
            visited.push_back(IdOf(window.focusWidget()));
            Press(window, Qt::Key_Tab);
        }
        // The last Tab went on to "Abbrechen", where Enter cancels.
        Press(window, Qt::Key_Return);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(visited, (std::vector<int>{IDOK, IDCANCEL, IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN,
                                         IDC_EDIT_NEW_PIN_REPEAT, IDOK}));
    EXPECT_TRUE(driver.messages().empty());
    EXPECT_TRUE(pin.Unchanged());
}

// Lets the test act on the window while a change runs on its worker thread.
class WhileBusy {
public:
    explicit WhileBusy(std::function<void(QWidget& window)> hook) {
        framework_seams::SetBusyHook([hook = std::move(hook)](HWND window) { hook(*window); });
    }
    ~WhileBusy() { framework_seams::SetBusyHook(nullptr); }
};

// A file whose key derivations take a good part of a second each.
std::string SlowFile(const TempDir& dir) {
    const Fixtures& fixtures = Fixtures::Get();
    const std::string path = dir / "langsam.p12";
    const auto made = testing_support::Run("openssl pkcs12 -export -iter 300000 -inkey '" +
                                           fixtures.Path("leaf.key") + "' -in '" +
                                           fixtures.Path("leaf.pem") + "' -passout file:'" +
                                           fixtures.Path("pin.txt") + "' -out '" + path + "'");
    EXPECT_EQ(made.status, 0) << made.output;
    return path;
}

TEST(ChangePinDialog, WhileTheChangeRunsTheWindowPaintsAndTakesNoInput) {
    PinDialog pin(SlowFile);
    ModalDriver driver;
    bool untouchedAtStart = false;
    bool ranWhileWindowWaited = false, waitCursor = false, visibleAfterInput = false;
    bool busyShown = false, busyAtOnce = true;
    QImage picture;
    const WhileBusy busy([&](QWidget& window) {
        waitCursor = QApplication::overrideCursor() != nullptr &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        busyAtOnce = window.findChild<QProgressBar*>() != nullptr;
        untouchedAtStart = ReadAll(pin.path) == pin.original;
        // Everything that would end or restart the dialog.
        Press(window, Qt::Key_Escape);
        Press(window, Qt::Key_Return);
        Click(window, IDCANCEL);
        Click(window, IDOK);
        window.close();
        QCoreApplication::quit();
        visibleAfterInput = window.isVisible();
        // The change goes on meanwhile: this runs on the window's thread, and the file is
        // replaced while it waits here.
        ranWhileWindowWaited =
            QTest::qWaitFor([&] { return ReadAll(pin.path) != pin.original; }, 20000);
        QTest::qWait(700);
        const auto* bar = window.findChild<QProgressBar*>();
        busyShown = bar != nullptr && bar->isVisible();
        picture = window.grab().toImage();
    });
    driver.Then([&](QWidget& window) {
        TypePins(window, kWidePin, "neu", "neu");
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    EXPECT_TRUE(untouchedAtStart);
    EXPECT_TRUE(waitCursor);
    EXPECT_FALSE(busyAtOnce);
    EXPECT_TRUE(visibleAfterInput);
    EXPECT_TRUE(ranWhileWindowWaited);
    EXPECT_TRUE(busyShown);
    EXPECT_FALSE(picture.isNull());
    EXPECT_EQ(driver.texts(), std::vector<std::string>{"Die PIN wurde geändert."});
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu"), DescribePfx(pin.original, kPin));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
