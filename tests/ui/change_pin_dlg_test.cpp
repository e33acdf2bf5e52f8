// The PIN dialog on either backend, driven through its control ids.

#include "ui/change_pin_dlg.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/engine_switches.h"
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
using ui_testing::Clear;
using ui_testing::Click;
using ui_testing::FocusId;
using ui_testing::Key;
using ui_testing::ModalDriver;
using ui_testing::Press;
using ui_testing::ShownFor;
using ui_testing::ShownMessage;
using ui_testing::TextOf;
using ui_testing::Type;

using Shown = std::vector<ShownMessage>;

// A PIN dialog on a copy of a fixture, as the main window prepares it.
struct PinDialog {
    TempDir dir;
    std::string path;
    std::string original;
    CChangePinDlg dialog;

    explicit PinDialog(const std::string& fixture = "modern.p12")
        : path(Fixtures::Get().CopyTo(fixture, dir)), original(ReadAll(path)) {
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

TEST(ChangePinDialog, EnterRightAfterOpeningAsksForTheOldPin) {
    PinDialog pin;
    ModalDriver driver;
    int focusAtOpen = 0;
    std::string title;
    driver.Then([&](HWND window) {
        title = ui_testing::TitleOf(window);
        focusAtOpen = FocusId(window);
        Press(window, Key::Return);
        Press(window, Key::Escape);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(title, "Quintara(R) Tessaplan für Softzertifikate");
    EXPECT_EQ(focusAtOpen, IDOK);
    EXPECT_EQ(driver.messages(), Shown{ShownFor(Outcome::OldPinMissing)});
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, EachMissingOrMismatchedEntryIsNamedAndACorrectedTrySucceeds) {
    PinDialog pin;
    ModalDriver driver;
    std::string afterFailure[3];
    driver.Then([&](HWND window) {
        Type(window, IDC_EDIT_OLD_PIN, "falsch");
        Click(window, IDOK);  // no new PIN
        Type(window, IDC_EDIT_NEW_PIN, "neu 1");
        Click(window, IDOK);  // no repetition
        Type(window, IDC_EDIT_NEW_PIN_REPEAT, "neu 2");
        Press(window, Key::Return);  // in the last field: the default button
        Clear(window, IDC_EDIT_NEW_PIN_REPEAT);
        Type(window, IDC_EDIT_NEW_PIN_REPEAT, "neu 1");
        Press(window, Key::Return);
        afterFailure[0] = TextOf(window, IDC_EDIT_OLD_PIN);
        afterFailure[1] = TextOf(window, IDC_EDIT_NEW_PIN);
        afterFailure[2] = TextOf(window, IDC_EDIT_NEW_PIN_REPEAT);
        Clear(window, IDC_EDIT_OLD_PIN);
        Type(window, IDC_EDIT_OLD_PIN, kPin);
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    EXPECT_EQ(driver.messages(),
              (Shown{ShownFor(Outcome::NewPinMissing), ShownFor(Outcome::RepeatMissing),
                     ShownFor(Outcome::RepeatDiffers), ShownFor(Outcome::CannotOpenWithOldPin),
                     ShownFor(Outcome::PinChanged)}));
    EXPECT_EQ(afterFailure[0], "falsch");
    EXPECT_EQ(afterFailure[1], "neu 1");
    EXPECT_EQ(afterFailure[2], "neu 1");
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu 1"), DescribePfx(pin.original, kPin));
    // What OnOK exchanged last is what the user typed.
    EXPECT_STREQ(pin.dialog.m_oldPin, kPin.c_str());
}

TEST(ChangePinDialog, CancelAndTheCloseBoxAfterFailedAttemptsLeaveTheFileAlone) {
    PinDialog pin;
    ModalDriver driver;
    driver.Then([&](HWND window) {
        TypePins(window, "falsch", "neu", "neu");
        Click(window, IDOK);
        Click(window, IDOK);
        Click(window, IDCANCEL);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    driver.Then([&](HWND window) {
        TypePins(window, "falsch", "neu", "neu");
        Click(window, IDOK);
        ui_testing::CloseBox(window);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.messages(), Shown(3, ShownFor(Outcome::CannotOpenWithOldPin)));
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, AFileThatCannotBeWrittenSaysWhyAndStaysOpen) {
    PinDialog pin;
    testing_support::SetReadOnly(pin.path, true);
    ModalDriver driver;
    bool stillOpen = false;
    driver.Then([&](HWND window) {
        TypePins(window, kPin, "neu", "neu");
        Click(window, IDOK);
        stillOpen = ui_testing::IsShown(window);
        ui_testing::CloseBox(window);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    testing_support::SetReadOnly(pin.path, false);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(driver.messages(), Shown{ShownFor(Outcome::CannotSave, Reason::NoWritePermission)});
    EXPECT_TRUE(pin.Unchanged());
}

TEST(ChangePinDialog, AFileChangedOrGoneMeanwhileEndsTheDialog) {
    for (const bool gone : {false, true}) {
        PinDialog pin;
        const std::string renewed = Fixtures::Get().Bytes("legacy.p12");
        ModalDriver driver;
        bool stillOpen = true;
        driver.Then([&](HWND window) {
            if (gone) {
                std::remove(pin.path.c_str());
            } else {
                testing_support::WriteAll(pin.path, renewed);
            }
            TypePins(window, kPin, "neu", "neu");
            Click(window, IDOK);
            stillOpen = ui_testing::IsShown(window);
        });
        EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
        EXPECT_FALSE(stillOpen);
        const Outcome expected = gone ? Outcome::FileGone : Outcome::FileChanged;
        EXPECT_EQ(pin.dialog.m_outcome, expected);
        EXPECT_EQ(driver.messages(), Shown{ShownFor(expected)});
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
    std::vector<bool> masked;
    driver.Then([&](HWND window) {
        TypePins(window, "geheim", "neu", "neu");
        for (const int id : {IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN, IDC_EDIT_NEW_PIN_REPEAT}) {
            masked.push_back(ui_testing::IsMasked(window, id));
        }
        Press(window, Key::Escape);
    });
    pin.dialog.DoModal();
    EXPECT_EQ(masked, std::vector<bool>(3, true));
}

TEST(ChangePinDialog, TabFollowsTheTemplateOrderAndEnterPressesTheFocusedButton) {
    PinDialog pin;
    ModalDriver driver;
    std::vector<int> visited;
    driver.Then([&](HWND window) {
        for (int i = 0; i < 6; ++i) {
            visited.push_back(FocusId(window));
            Press(window, Key::Tab);
        }
        // Back and forth again; the last Tab went on to "Abbrechen", where Enter cancels.
        Press(window, Key::ShiftTab);
        visited.push_back(FocusId(window));
        Press(window, Key::ShiftTab);
        visited.push_back(FocusId(window));
        Press(window, Key::Tab);
        Press(window, Key::Tab);
        visited.push_back(FocusId(window));
        Press(window, Key::Return);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(visited, (std::vector<int>{IDOK, IDCANCEL, IDC_EDIT_OLD_PIN, IDC_EDIT_NEW_PIN,
                                         IDC_EDIT_NEW_PIN_REPEAT, IDOK, IDOK,
                                         IDC_EDIT_NEW_PIN_REPEAT, IDCANCEL}));
    EXPECT_TRUE(driver.messages().empty());
    EXPECT_TRUE(pin.Unchanged());
}

// Lets the test act on the window while a change runs on its worker thread.
class WhileBusy {
public:
    explicit WhileBusy(framework_seams::BusyHook hook) {
        framework_seams::SetBusyHook(std::move(hook));
    }
    ~WhileBusy() { framework_seams::SetBusyHook(nullptr); }
};

// While held, the change stops where a derivation thread ends its share of a batch, until
// released: it cannot end while the test looks, however fast the machine is. slow.p12's passes
// are worth the threads.
std::mutex g_holdMutex;
std::condition_variable g_holdChanged;
bool g_held = false;

void WaitWhileHeld() {
    std::unique_lock lock(g_holdMutex);
    g_holdChanged.wait(lock, [] { return !g_held; });
}

void HoldChange(bool hold) {
    {
        const std::lock_guard lock(g_holdMutex);
        g_held = hold;
    }
    g_holdChanged.notify_all();
    engine_switches::SetWorkEndObserver(hold ? &WaitWhileHeld : nullptr);
}

// What the window showed once its busy bar did, while the change was held.
struct BusyLook {
    int triesLeft = 3000;
    bool looked = false, busyBar = false, waitCursor = false, shown = false;
    bool testOver = false;  // a look still due finds the window gone
};

// Looks once the busy bar shows, which the window does after a while of its own, then lets the
// change go on; gives up after a minute, so that a bar that never shows fails the test.
void LookOnceBusy(const std::shared_ptr<BusyLook>& seen, HWND window) {
    if (seen->testOver) {
        return;
    }
    if (!ui_testing::ShowsBusyBar(window) && --seen->triesLeft > 0) {
        ui_testing::After(20, [seen, window] { LookOnceBusy(seen, window); });
        return;
    }
    seen->looked = true;
    seen->busyBar = ui_testing::ShowsBusyBar(window);
    seen->waitCursor = ui_testing::ShowsWaitCursor();
    seen->shown = ui_testing::IsShown(window);
    HoldChange(false);
}

TEST(ChangePinDialog, WhileTheChangeRunsTheWindowAnswersAndTakesNoInput) {
    // A derivation thread besides the change's own, which the hold stops; derivations of
    // seconds, so that it takes part in the change's batches.
    const engine_switches::ScopedThreadCount threads(2);
    PinDialog pin("slow.p12");
    ModalDriver driver;
    bool untouchedAtStart = false, busyBarAtOnce = true;
    const auto seen = std::make_shared<BusyLook>();
    const WhileBusy busy([&](HWND window) {
        HoldChange(true);
        untouchedAtStart = ReadAll(pin.path) == pin.original;
        busyBarAtOnce = ui_testing::ShowsBusyBar(window);
        // Everything that would end or restart the dialog.
        Press(window, Key::Escape);
        Press(window, Key::Return);
        Click(window, IDCANCEL);
        Click(window, IDOK);
        ui_testing::CloseBox(window);
        ui_testing::RequestQuit();
        // The window's messages go on while the change runs.
        LookOnceBusy(seen, window);
    });
    driver.Then([&](HWND window) {
        TypePins(window, kPin, "neu", "neu");
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    seen->testOver = true;
    HoldChange(false);
    EXPECT_TRUE(untouchedAtStart);
    EXPECT_FALSE(busyBarAtOnce);
    EXPECT_TRUE(seen->looked);
    EXPECT_TRUE(seen->busyBar);
    EXPECT_TRUE(seen->waitCursor);
    EXPECT_TRUE(seen->shown);
    EXPECT_EQ(driver.messages(), Shown{ShownFor(Outcome::PinChanged)});
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu"), DescribePfx(pin.original, kPin));
    EXPECT_FALSE(ui_testing::ShowsWaitCursor());
}

// Has the system give the framework no worker thread, as when it has none left to give.
class NoWorkerThreads {
public:
    NoWorkerThreads() {
        framework_seams::SetThreadStartHook([] {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "thread");
        });
    }
    NoWorkerThreads(const NoWorkerThreads&) = delete;
    NoWorkerThreads& operator=(const NoWorkerThreads&) = delete;
    ~NoWorkerThreads() { framework_seams::SetThreadStartHook(nullptr); }
};

TEST(ChangePinDialog, AChangeThatGetsNoThreadSaysSoAndLeavesTheFileAsItWas) {
    PinDialog pin;
    std::optional<NoWorkerThreads> noThreads(std::in_place);
    ModalDriver driver;
    bool stillOpen = false, unchanged = false;
    driver.Then([&](HWND window) {
        TypePins(window, kPin, "neu", "neu");
        Click(window, IDOK);
        stillOpen = ui_testing::IsShown(window);
        unchanged = pin.Unchanged();
        // Once the system gives threads again, the same dialog changes the PIN.
        noThreads.reset();
        Click(window, IDOK);
    });
    EXPECT_EQ(pin.dialog.DoModal(), IDOK);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(unchanged);
    EXPECT_EQ(driver.texts(),
              (std::vector<std::string>{
                  "Die PIN konnte nicht geändert werden. Das Softzertifikat ist unverändert.\n"
                  "Das System konnte für die Änderung keinen weiteren Thread starten. Versuchen "
                  "Sie es später noch einmal.",
                  "Die PIN wurde geändert."}));
    EXPECT_EQ(driver.messages(), (Shown{ShownFor(Outcome::CannotSave, Reason::NoWorkerThread),
                                        ShownFor(Outcome::PinChanged)}));
    EXPECT_EQ(DescribePfx(ReadAll(pin.path), "neu"), DescribePfx(pin.original, kPin));
}

}  // namespace
