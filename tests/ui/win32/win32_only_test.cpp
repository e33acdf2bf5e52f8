// What only the Win32 backend does: while a change runs, its windows are disabled, as the
// system's own modal waits leave them.

#include <gtest/gtest.h>

#include "tests/support/fixtures.h"
#include "tests/ui/driver.h"
#include "ui/change_pin_dlg.h"
#include "ui/framework/seams.h"

namespace {

using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::TempDir;

TEST(Win32ChangePinDialog, TheWindowsAreDisabledWhileTheChangeRuns) {
    const TempDir dir;
    const std::string path = Fixtures::Get().CopyTo("modern.p12", dir);
    CChangePinDlg dialog;
    dialog.m_path.Assign(path.c_str());
    dialog.m_certificate.LoadFromFile(path.c_str(), 0, 0);
    ui_testing::ModalDriver driver;
    bool disabledWhileBusy = false;
    framework_seams::SetBusyHook(
        [&](HWND window) { disabledWhileBusy = !IsWindowEnabled(window); });
    driver.Then([&](HWND window) {
        ui_testing::Type(window, IDC_EDIT_OLD_PIN, kPin);
        ui_testing::Type(window, IDC_EDIT_NEW_PIN, "neu");
        ui_testing::Type(window, IDC_EDIT_NEW_PIN_REPEAT, "neu");
        ui_testing::Click(window, IDOK);
    });
    dialog.DoModal();
    framework_seams::SetBusyHook(nullptr);
    EXPECT_TRUE(disabledWhileBusy);
    EXPECT_EQ(driver.texts(), std::vector<std::string>{"Die PIN wurde geändert."});
}

}  // namespace
