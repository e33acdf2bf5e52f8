// The main window on either backend, driven through its control ids.

#include "ui/pin_tool_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/outcome.h"
#include "platform/file_api.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_description.h"
#include "tests/ui/driver.h"
#include "tests/ui/framework_seams.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;
using ui_testing::Click;
using ui_testing::FocusId;
using ui_testing::Key;
using ui_testing::ModalDriver;
using ui_testing::Press;
using ui_testing::ShownFor;
using ui_testing::ShownMessage;
using ui_testing::TextOf;
using ui_testing::Type;
using ui_testing::TypeHere;

using Shown = std::vector<ShownMessage>;

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

// Types the PINs into the PIN dialog and presses Enter.
ModalDriver::Step ChangeTo(const std::string& oldPin, const std::string& newPin) {
    return [=](HWND dialog) {
        Type(dialog, IDC_EDIT_OLD_PIN, oldPin);
        Type(dialog, IDC_EDIT_NEW_PIN, newPin);
        Type(dialog, IDC_EDIT_NEW_PIN_REPEAT, newPin);
        Press(dialog, Key::Return);
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
    std::string shownPath;
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        shownPath = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);  // first change
        Click(main, IDC_BUTTON_RUN);  // second change, with the PIN the file has now
        Press(main, Key::Escape);
    });
    driver.Then(ChangeTo(kPin, "zweite PIN"));
    driver.Then(ChangeTo("zweite PIN", "Schlüssel€ Ωм"));
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(shownPath, file.path);
    EXPECT_EQ(driver.messages(),
              (Shown{ShownFor(Outcome::PinChanged), ShownFor(Outcome::PinChanged)}));
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "Schlüssel€ Ωм"), DescribePfx(file.original, kPin));
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(MainWindow, OpensOnBeendenWithTitleAndIconAndRunWaitsForPinAendern) {
    const Chosen file;
    const FileChoices choices({file.path});
    ModalDriver driver;
    int focus = 0;
    std::string title;
    std::vector<std::pair<int, int>> iconSizes;
    driver.Then([&](HWND main) {
        focus = FocusId(main);
        title = ui_testing::TitleOf(main);
        iconSizes = ui_testing::IconSizesOf(main);
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_BUTTON_RUN);  // "PIN ändern" not selected: nothing happens
        Press(main, Key::F1);         // no help file: nothing happens
        Press(main, Key::Escape);
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(focus, IDOK);
    EXPECT_EQ(title, "Quintara(R) Tessaplan für Softzertifikate");
    // The icon group's large image; Qt also offers the small one, Windows scales the large.
    EXPECT_NE(std::find(iconSizes.begin(), iconSizes.end(), std::pair{32, 32}), iconSizes.end());
    EXPECT_EQ(driver.unexpectedDialogs(), 0);  // no PIN dialog opened
    EXPECT_TRUE(driver.messages().empty());
}

TEST(MainWindow, EnterOnBeendenEndsWithOk) {
    ModalDriver driver;
    driver.Then([&](HWND main) { Press(main, Key::Return); });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDOK);
}

TEST(MainWindow, WithoutAFileThePinDialogCannotOpenTheCertificate) {
    ModalDriver driver;
    driver.Then([&](HWND main) {
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Key::Escape);
    });
    driver.Then([&](HWND dialog) {
        ChangeTo("alt", "neu")(dialog);
        Press(dialog, Key::Escape);
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.messages(), Shown{ShownFor(Outcome::CannotOpenWithOldPin)});
}

TEST(MainWindow, AForeignOrOversizedFileIsRejectedAndForgotten) {
    const Chosen valid;
    testing_support::WriteAll(valid.dir / "text.p12", "kein PKCS#12");
    // Beyond what the tool reads of a file.
    testing_support::WriteAll(valid.dir / "riesig.p12", std::string(17 << 20, '\x30'));
    const FileChoices choices({valid.path, valid.dir / "text.p12", valid.dir / "riesig.p12"});
    ModalDriver driver;
    std::string field = "unset";
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_BUTTON_BROWSE);
        Press(main, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(driver.messages(), (Shown{ShownFor(Outcome::NotSoftCertificate),
                                        ShownFor(Outcome::BeyondLimits, Reason::FileTooLarge)}));
    EXPECT_EQ(field, "");
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
    std::string field;
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        field = TextOf(main, IDC_EDIT_FILE);
        CloseHandle(writer);  // the other program is done
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);
        Press(main, Key::Escape);
    });
    driver.Then(ChangeTo(kPin, "neue PIN"));
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(field, file.path);
    EXPECT_EQ(driver.messages(),
              (Shown{ShownFor(Outcome::FileInUse), ShownFor(Outcome::PinChanged)}));
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "neue PIN"), DescribePfx(file.original, kPin));
}

TEST(MainWindow, AFileChangedMeanwhileIsReadAgainAndOneGoneIsForgotten) {
    const Chosen file;
    const std::string renewed = Fixtures::Get().Bytes("modern.p12");
    const FileChoices choices({file.path});
    ModalDriver driver;
    std::string fieldAtEnd = "unset";
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        Click(main, IDC_RADIO_CHANGE_PIN);
        Click(main, IDC_BUTTON_RUN);  // the file is renewed while the PIN dialog is open
        Click(main, IDC_BUTTON_RUN);  // the renewed file, read again, is changed
        Click(main, IDC_BUTTON_RUN);  // the file goes while the PIN dialog is open
        fieldAtEnd = TextOf(main, IDC_EDIT_FILE);
        Press(main, Key::Escape);
    });
    driver.Then([&](HWND dialog) {
        testing_support::WriteAll(file.path, renewed);
        ChangeTo(kPin, "neue PIN")(dialog);
    });
    driver.Then(ChangeTo(kPin, "neue PIN"));
    std::string changed;
    driver.Then([&](HWND dialog) {
        changed = ReadAll(file.path);
        std::remove(file.path.c_str());
        ChangeTo("neue PIN", "dritte PIN")(dialog);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(driver.messages(),
              (Shown{ShownFor(Outcome::FileChanged), ShownFor(Outcome::PinChanged),
                     ShownFor(Outcome::FileGone)}));
    EXPECT_EQ(DescribePfx(changed, "neue PIN"), DescribePfx(renewed, kPin));
    EXPECT_EQ(fieldAtEnd, "");
    EXPECT_EQ(window.m_certificate.data(), nullptr);
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

TEST(MainWindow, CancellingTheFileDialogDropsThePreviousChoice) {
    const Chosen file;
    const FileChoices choices({file.path, std::nullopt});
    ModalDriver driver;
    std::string before, after = "unset";
    driver.Then([&](HWND main) {
        Click(main, IDC_BUTTON_BROWSE);
        before = TextOf(main, IDC_EDIT_FILE);
        Click(main, IDC_BUTTON_BROWSE);
        after = TextOf(main, IDC_EDIT_FILE);
        Press(main, Key::Escape);
    });
    CPinToolDlg window;
    window.DoModal();
    EXPECT_EQ(before, file.path);
    EXPECT_EQ(after, "");
    EXPECT_EQ(window.m_certificate.data(), nullptr);
    EXPECT_TRUE(driver.messages().empty());
}

TEST(MainWindow, TheWholeChangeByKeyboardAlone) {
    const Chosen file;
    const FileChoices choices({file.path});
    ModalDriver driver;
    std::vector<int> visited;
    bool checkedByArrow = false;
    driver.Then([&](HWND main) {
        Press(main, Key::Tab);  // "..."
        visited.push_back(FocusId(main));
        Press(main, Key::Return);  // the file dialog
        Press(main, Key::Tab);     // "Ausführen"
        visited.push_back(FocusId(main));
        Press(main, Key::Down);  // "PIN ändern", checked on arrival
        visited.push_back(FocusId(main));
        checkedByArrow = ui_testing::IsChecked(main, IDC_RADIO_CHANGE_PIN);
        Press(main, Key::Up);  // back to "Ausführen"
        visited.push_back(FocusId(main));
        Press(main, Key::Return);  // the PIN dialog
        Press(main, Key::Escape);
    });
    driver.Then([&](HWND dialog) {
        Press(dialog, Key::Tab);  // "Abbrechen"
        Press(dialog, Key::Tab);  // "Alte PIN"
        TypeHere(dialog, kPin);
        Press(dialog, Key::Tab);
        TypeHere(dialog, "neue PIN");
        Press(dialog, Key::Tab);
        TypeHere(dialog, "neue PIN");
        Press(dialog, Key::Return);  // the default button, "PIN ändern"
    });
    CPinToolDlg window;
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    EXPECT_EQ(visited, (std::vector<int>{IDC_BUTTON_BROWSE, IDC_BUTTON_RUN, IDC_RADIO_CHANGE_PIN,
                                         IDC_BUTTON_RUN}));
    EXPECT_TRUE(checkedByArrow);
    EXPECT_EQ(driver.messages(), Shown{ShownFor(Outcome::PinChanged)});
    EXPECT_EQ(DescribePfx(ReadAll(file.path), "neue PIN"), DescribePfx(file.original, kPin));
    EXPECT_EQ(driver.unexpectedDialogs(), 0);
}

}  // namespace
