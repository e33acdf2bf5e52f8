// The dialogs on the Win32 backend, driven through their control ids from inside the program,
// as the Qt tests drive them on Linux.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"
#include "tests/support/pfx_description.h"
#include "tests/ui/win32/win32_driver.h"
#include "ui/change_pin_dlg.h"
#include "ui/framework/seams.h"
#include "ui/pin_tool_dlg.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;
using win32_testing::Click;
using win32_testing::FocusId;
using win32_testing::ModalDriver;
using win32_testing::Press;
using win32_testing::TextOf;
using win32_testing::Type;

const std::string kCaption = "Quintara(R) Tessaplan";
const std::string kTitle = "Quintara(R) Tessaplan für Softzertifikate";
const std::string kOpenFailed =
    "Das Softzertifikat konnte mit der angegebenen alten PIN nicht verarbeitet werden!";

struct PinDialog {
    TempDir dir;
    std::string path;
    std::string original;
    CChangePinDlg dialog;

    PinDialog() : path(Fixtures::Get().CopyTo("modern.p12", dir)), original(ReadAll(path)) {
        dialog.m_path.Assign(path.c_str());
        dialog.m_certificate.LoadFromFile(path.c_str(), 0, 0);
    }
    bool Unchanged() const { return ReadAll(path) == original && dir.List().size() == 1; }
};

void TypePins(HWND window, const std::string& oldPin, const std::string& newPin,
              const std::string& repeat) {
    Type(window, IDC_EDIT_OLD_PIN, oldPin);
    Type(window, IDC_EDIT_NEW_PIN, newPin);
    Type(window, IDC_EDIT_NEW_PIN_REPEAT, repeat);
}

void Clear(HWND window, int id) {
    SetDlgItemTextW(window, id, L"");
}

// Stands in for the file dialog with the answers given, one per call.
struct FileChoices {
    explicit FileChoices(std::vector<std::optional<std::string>> answers)
        : m_answers(std::move(answers)) {
        framework_seams::SetFileDialogHook([this]() -> std::optional<std::string> {
            if (m_next >= m_answers.size()) {
                return std::nullopt;
            }
            return m_answers[m_next++];
        });
    }
    ~FileChoices() { framework_seams::SetFileDialogHook(nullptr); }

private:
    std::vector<std::optional<std::string>> m_answers;
    std::size_t m_next = 0;
};

TEST(Win32ChangePinDialog, EnterRightAfterOpeningAsksForTheOldPin) {
    PinDialog pin;
    ModalDriver driver;
    int focusAtOpen = 0;
    std::string title;
    driver.Then([&](HWND window) {
        title = TextOf(window);
        focusAtOpen = FocusId();
        Press(window, VK_RETURN);
        Press(window, VK_ESCAPE);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(title, kTitle);
    EXPECT_EQ(focusAtOpen, IDOK);
    ASSERT_EQ(driver.messages().size(), 1u);
    EXPECT_EQ(driver.messages()[0].text, "Sie müssen die alte PIN angeben!");
    EXPECT_EQ(driver.messages()[0].caption, kCaption);
    EXPECT_FALSE(driver.messages()[0].icon);
    EXPECT_EQ(driver.messages()[0].buttons, 1);
    EXPECT_TRUE(pin.Unchanged());
}

TEST(Win32ChangePinDialog, FailuresKeepTheEntriesAndACorrectedTrySucceeds) {
    PinDialog pin;
    ModalDriver driver;
    std::string afterFailure[3];
    driver.Then([&](HWND window) {
        TypePins(window, "falsch", "neu 1", "neu 2");
        Press(window, VK_RETURN);  // in the last field: the default button
        Clear(window, IDC_EDIT_NEW_PIN_REPEAT);
        Type(window, IDC_EDIT_NEW_PIN_REPEAT, "neu 1");
        Press(window, VK_RETURN);
        afterFailure[0] = TextOf(window, IDC_EDIT_OLD_PIN);
        afterFailure[1] = TextOf(window, IDC_EDIT_NEW_PIN);
        afterFailure[2] = TextOf(window, IDC_EDIT_NEW_PIN_REPEAT);
        Clear(window, IDC_EDIT_OLD_PIN);
        Type(window, IDC_EDIT_OLD_PIN, kPin);
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
    EXPECT_STREQ(pin.dialog.m_oldPin, kPin.c_str());
}

TEST(Win32ChangePinDialog, CancelAndTheCloseBoxAfterFailedAttemptsLeaveTheFileAlone) {
    PinDialog pin;
    ModalDriver driver;
    driver.Then([&](HWND window) {
        TypePins(window, "falsch", "neu", "neu");
        Click(window, IDOK);
        Click(window, IDCANCEL);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    driver.Then([&](HWND window) {
        SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        win32_testing::Pump(window);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{kOpenFailed}));
    EXPECT_TRUE(pin.Unchanged());
}

TEST(Win32ChangePinDialog, PinFieldsAreMaskedAndTabFollowsTheTemplate) {
    PinDialog pin;
    ModalDriver driver;
    std::vector<int> order;
    bool masked = true;
    driver.Then([&](HWND window) {
        for (const int id : {IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN, IDC_EDIT_NEW_PIN_REPEAT}) {
            const HWND field = GetDlgItem(window, id);
            masked = masked && (GetWindowLongW(field, GWL_STYLE) & ES_PASSWORD) != 0 &&
                     SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0) != 0;
        }
        for (int i = 0; i < 5; ++i) {
            order.push_back(FocusId());
            Press(window, VK_TAB);
        }
        order.push_back(FocusId());
        Press(window, VK_TAB, true);
        order.push_back(FocusId());
        Press(window, VK_ESCAPE);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(masked);
    EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN,
                                       IDC_EDIT_NEW_PIN_REPEAT, IDOK, IDC_EDIT_NEW_PIN_REPEAT}));
}

TEST(Win32ChangePinDialog, InputDuringTheChangeIsIgnored) {
    PinDialog pin;
    ModalDriver driver;
    bool disabledWhileBusy = false;
    framework_seams::SetBusyHook([&](HWND window) {
        disabledWhileBusy = !IsWindowEnabled(window);
        // A user's Esc, close box and "Abbrechen" while the change runs.
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageW(GetDlgItem(window, IDCANCEL), WM_KEYDOWN, VK_SPACE, 1);
    });
    driver.Then([&](HWND window) {
        TypePins(window, kPin, "neu", "neu");
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    framework_seams::SetBusyHook(nullptr);
    EXPECT_TRUE(disabledWhileBusy);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{"Die PIN wurde geändert."}));
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu"), DescribePfx(pin.original, kPin));
}

TEST(Win32MainWindow, RunDoesNothingBeforePinAendernIsSelectedAndEscEnds) {
    CPinToolDlg dialog;
    ModalDriver driver;
    int focusAtOpen = 0;
    std::string title;
    bool hasIcon = false;
    driver.Then([&](HWND window) {
        title = TextOf(window);
        focusAtOpen = FocusId();
        hasIcon = SendMessageW(window, WM_GETICON, ICON_BIG, 0) != 0 &&
                  SendMessageW(window, WM_GETICON, ICON_SMALL, 0) != 0;
        Click(window, IDC_BUTTON_RUN);
        Press(window, VK_ESCAPE);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(title, kTitle);
    EXPECT_EQ(focusAtOpen, IDOK);
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
    EXPECT_TRUE(driver.messages().empty());
}

TEST(Win32MainWindow, ArrowKeysMoveWithinTheGroupAndCheckTheRadioButton) {
    CPinToolDlg dialog;
    ModalDriver driver;
    std::vector<int> order;
    LRESULT checked = BST_UNCHECKED;
    driver.Then([&](HWND window) {
        Press(window, VK_TAB);  // "..."
        order.push_back(FocusId());
        Press(window, VK_DOWN);
        order.push_back(FocusId());
        Press(window, VK_DOWN);
        order.push_back(FocusId());
        checked = SendDlgItemMessageW(window, IDC_RADIO_CHANGE_PIN, BM_GETCHECK, 0, 0);
        Press(window, VK_ESCAPE);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(order, (std::vector<int>{IDC_BUTTON_BROWSE, IDC_BUTTON_RUN, IDC_RADIO_CHANGE_PIN}));
    EXPECT_EQ(checked, BST_CHECKED);
}

TEST(Win32MainWindow, EnterOnBeendenEndsWithIdok) {
    CPinToolDlg dialog;
    ModalDriver driver;
    driver.Then([&](HWND window) { Press(window, VK_RETURN); });
    EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST(Win32MainWindow, AFileThatIsNoCertificateIsRefusedWithTheErrorIcon) {
    TempDir dir;
    const std::string path = dir / "kein.p12";
    testing_support::WriteAll(path, "kein PKCS#12");
    FileChoices choices({path});
    CPinToolDlg dialog;
    ModalDriver driver;
    std::string field = "unset";
    driver.Then([&](HWND window) {
        Click(window, IDC_BUTTON_BROWSE);
        field = TextOf(window, IDC_EDIT_FILE);
        Press(window, VK_ESCAPE);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    ASSERT_EQ(driver.messages().size(), 1u);
    EXPECT_EQ(driver.messages()[0].text, "Die ausgewählte Datei ist kein Softzertifikat!");
    EXPECT_EQ(driver.messages()[0].caption, kCaption);
    EXPECT_TRUE(driver.messages()[0].icon);
    EXPECT_EQ(field, "");
}

TEST(Win32MainWindow, ChosenFileChangesThroughThePinDialog) {
    TempDir dir;
    const std::string path = Fixtures::Get().CopyTo("modern.p12", dir);
    const std::string original = ReadAll(path);
    FileChoices choices({path});
    CPinToolDlg dialog;
    ModalDriver driver;
    std::string field;
    driver.Then([&](HWND window) {
        Click(window, IDC_BUTTON_BROWSE);
        field = TextOf(window, IDC_EDIT_FILE);
        Click(window, IDC_RADIO_CHANGE_PIN);
        Click(window, IDC_BUTTON_RUN);  // the PIN dialog runs inside
        Press(window, VK_ESCAPE);
    });
    driver.Then([&](HWND window) {
        TypePins(window, kPin, "Schlüssel€ Ωм", "Schlüssel€ Ωм");
        Press(window, VK_RETURN);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(field, path);
    EXPECT_EQ(driver.texts(), (std::vector<std::string>{"Die PIN wurde geändert."}));
    EXPECT_EQ(DescribePfx(ReadAll(path), "Schlüssel€ Ωм"), DescribePfx(original, kPin));
}

}  // namespace
