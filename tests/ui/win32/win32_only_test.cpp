// What only the Win32 backend does: while a change runs, its windows are disabled, as the
// system's own modal waits leave them; the PIN fields' text is overwritten before the dialog
// goes, where the edit controls keep it in the process's own memory; the system's message box
// is widened for its caption.

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "core/outcome.h"
#include "platform/secret.h"
#include "tests/support/fixtures.h"
#include "tests/ui/driver.h"
#include "tests/ui/framework_seams.h"
#include "ui/change_pin_dlg.h"

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

// A window manager's caption: bold, somewhat larger than the system's caption font, beside the
// window's icon and up to three buttons of the caption's height. The shortest message, that the
// PIN was changed, is narrower than that by its text alone.
TEST(Win32MessageBox, LeavesRoomForItsCaption) {
    ui_testing::ModalDriver driver;
    CWnd owner;
    owner.MessageBox(MessageFor(Outcome::PinChanged, Reason::None).text.c_str(), kMessageCaption);
    ASSERT_EQ(driver.messages().size(), 1u);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    LOGFONTW caption = metrics.lfCaptionFont;
    caption.lfWeight = FW_BOLD;
    caption.lfHeight = MulDiv(caption.lfHeight, 6, 5);
    const HFONT font = CreateFontIndirectW(&caption);
    const HDC screen = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(screen, font);
    const std::string title = kMessageCaption;  // ASCII
    const std::wstring wide(title.begin(), title.end());
    SIZE size{};
    GetTextExtentPoint32W(screen, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    DeleteObject(font);
    EXPECT_GE(driver.messages()[0].width, size.cx + 4 * metrics.iCaptionHeight);
}

// Whether the UTF-16 text is anywhere in the process's own memory (heaps and stacks; not the
// program's image, which holds the literal), but in the copy searched for, which goes wiped.
bool InMemory(const wchar_t* text) {
    const WideSecret needle(text, std::wcslen(text));
    const auto* first = reinterpret_cast<const char*>(needle.c_str());
    const auto* last = first + needle.size() * sizeof(wchar_t);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const auto* address = static_cast<const char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region{};
    while (address < system.lpMaximumApplicationAddress &&
           VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
        const auto* begin = static_cast<const char*>(region.BaseAddress);
        const auto* end = begin + region.RegionSize;
        constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                    PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE;
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE &&
            (region.Protect & kReadable) != 0 && (region.Protect & PAGE_GUARD) == 0) {
            for (const char* found = std::search(begin, end, first, last); found != end;
                 found = std::search(found + 1, end, first, last)) {
                if (found != first) {
                    return true;
                }
            }
        }
        address = end;
    }
    return false;
}

// The PINs the next test types, in its fields until they are destroyed.
const wchar_t* const kTypedPins[] = {L"Qv7Ürk9Wzt", L"Jn4Ößm2Xyp", L"Hd8Äq5Tcvb"};
WNDPROC editProcedure = nullptr;
int pinsLeftAtDestruction = -1;

// The dialog's WM_DESTROY has run; the edit controls still hold their text buffers, which they
// free later, into a heap that keeps what they held.
LRESULT CALLBACK WatchedEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        pinsLeftAtDestruction = 0;
        for (const wchar_t* pin : kTypedPins) {
            pinsLeftAtDestruction += InMemory(pin) ? 1 : 0;
        }
    }
    return CallWindowProcW(editProcedure, window, message, wParam, lParam);
}

TEST(Win32ChangePinDialog, ThePinFieldsAreOverwrittenBeforeTheDialogGoes) {
    const TempDir dir;
    const std::string path = Fixtures::Get().CopyTo("modern.p12", dir);
    // Typed, not set: PINs of the test's own that nothing else in the process holds as UTF-16.
    const std::string pins[] = {"Qv7Ürk9Wzt", "Jn4Ößm2Xyp", "Hd8Äq5Tcvb"};
    CChangePinDlg dialog;
    dialog.m_path.Assign(path.c_str());
    dialog.m_certificate.LoadFromFile(path.c_str(), 0, 0);
    ui_testing::ModalDriver driver;
    int pinsTyped = 0;
    driver.Then([&](HWND window) {
        ui_testing::Type(window, IDC_EDIT_OLD_PIN, pins[0]);
        ui_testing::Type(window, IDC_EDIT_NEW_PIN, pins[1]);
        ui_testing::Type(window, IDC_EDIT_NEW_PIN_REPEAT, pins[2]);
        for (const wchar_t* pin : kTypedPins) {
            pinsTyped += InMemory(pin) ? 1 : 0;
        }
        const HWND edit = GetDlgItem(window, IDC_EDIT_OLD_PIN);
        editProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchedEdit)));
        ui_testing::Press(window, ui_testing::Key::Escape);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(pinsTyped, 3);  // the search finds them where they are
    EXPECT_EQ(pinsLeftAtDestruction, 0);
}

}  // namespace
