// Both dialogs and the message boxes at the display scale the Wine prefix is set to (its
// LogPixels): every text must fit its control whole, measured with the control's own font as
// the control draws it, and the dialogs must grow with the scale. The expected DPI is the
// program's argument, so that a prefix whose setting did not take fails instead of passing at
// 96 DPI.
// With PINTOOL_SCREENSHOTS=FOLDER each dialog and one message box also go to FOLDER as BMP files
// of the screen where they are shown (bmp_to_png.py makes PNG files of them).
// Usage: win32_dpi_tests.exe [GoogleTest options] DPI

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "res/resource.h"
#include "tests/ui/framework_seams.h"
#include "ui/change_pin_dlg.h"
#include "ui/framework/win32/win32_support.h"
#include "ui/framework/win_app.h"
#include "ui/pin_tool_app.h"
#include "ui/pin_tool_dlg.h"

namespace {

int expectedDpi = 96;

std::wstring ClassOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), text.size())));
    return text;
}

// A control's text measured in its own font: with `width`, broken into lines as wide at most
// (a word wider than that comes out wider); without, on one line.
SIZE Measure(HWND control, const std::wstring& text, UINT flags, LONG width = 0) {
    const HDC dc = GetDC(control);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    RECT needed{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, flags | DT_CALCRECT);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return {needed.right - needed.left, needed.bottom - needed.top};
}

// The height of a line of the control's font.
LONG LineHeight(HWND control) {
    return Measure(control, L"Äg", DT_SINGLELINE).cy;
}

struct Clipped {
    std::wstring text;
    SIZE needed;
    SIZE room;
};

bool operator==(const SIZE& first, const SIZE& second) {
    return first.cx == second.cx && first.cy == second.cy;
}
bool operator==(const Clipped& first, const Clipped& second) {
    return first.text == second.text && first.needed == second.needed && first.room == second.room;
}

void PrintTo(const Clipped& clipped, std::ostream* out) {
    *out << '"' << Utf8Text(clipped.text.c_str(), static_cast<int>(clipped.text.size()))
         << "\" needs " << clipped.needed.cx << "x" << clipped.needed.cy << ", has "
         << clipped.room.cx << "x" << clipped.room.cy;
}

// Every control of the window whose text does not fit it whole.
std::vector<Clipped> ClippedTexts(HWND window) {
    std::vector<Clipped> clipped;
    for (HWND control = GetWindow(window, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        if (!IsWindowVisible(control)) {
            continue;
        }
        RECT client{};
        GetClientRect(control, &client);
        const SIZE room{client.right, client.bottom};
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        const std::wstring kind = ClassOf(control);
        const std::wstring text = TextOf(control);
        SIZE needed{0, 0};
        if (kind == L"Static") {
            const LONG type = style & SS_TYPEMASK;
            if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT &&
                type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE) {
                continue;  // icons, frames
            }
            const UINT prefix = (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0;
            needed = type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE
                         ? Measure(control, text, DT_SINGLELINE | prefix)
                         : Measure(control, text, DT_WORDBREAK | DT_EXPANDTABS | prefix, room.cx);
        } else if (kind == L"Button") {
            const LONG type = style & BS_TYPEMASK;
            needed = Measure(control, text, DT_SINGLELINE);
            if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON || type == BS_CHECKBOX ||
                type == BS_AUTOCHECKBOX) {
                // The box, and the gap the button leaves after it.
                needed.cx += GetSystemMetrics(SM_CXMENUCHECK) + Measure(control, L"0", 0).cx / 2;
            } else {
                // The button's edges and the focus rectangle inside them.
                needed.cx += 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
                needed.cy += 2 * GetSystemMetrics(SM_CYEDGE);
            }
        } else if (kind == L"Edit") {
            needed = {0, LineHeight(control)};  // a line of what is typed
        } else {
            continue;
        }
        if (needed.cx > room.cx || needed.cy > room.cy) {
            clipped.push_back({text.empty() ? L"(" + kind + L")" : text, needed, room});
        }
    }
    return clipped;
}

// The window as the screen shows it, to FOLDER/NAME.bmp (32 bits, top-down), when asked for.
void Screenshot(HWND window, const std::string& name) {
    const char* folder = std::getenv("PINTOOL_SCREENSHOTS");
    if (folder == nullptr) {
        return;
    }
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    Sleep(500);  // for the X server to have drawn it
    RECT area{};
    GetWindowRect(window, &area);
    const LONG width = area.right - area.left;
    const LONG height = area.bottom - area.top;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::vector<char> pixels(static_cast<std::size_t>(width * height * 4));
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(std::string(folder) + "/" + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
}

struct Seen {
    UINT dpi = 0;
    int dialogUnitX = 0;  // one dialog unit's 100 horizontal ones, in pixels
    int dialogUnitY = 0;
    std::vector<Clipped> clipped;
    int controls = 0;
};

// Shows the dialog and reads it once it is shown, then cancels it.
Seen Inspect(CDialog& dialog, const std::string& name) {
    Seen seen;
    framework_seams::SetModalHook([&](HWND window) {
        seen.dpi = GetDpiForWindow(window);
        RECT units{0, 0, 100, 100};
        MapDialogRect(window, &units);
        seen.dialogUnitX = units.right;
        seen.dialogUnitY = units.bottom;
        seen.clipped = ClippedTexts(window);
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            ++seen.controls;
        }
        Screenshot(window, name);
        EndDialog(window, IDCANCEL);
    });
    dialog.DoModal();
    framework_seams::SetModalHook(nullptr);
    return seen;
}

// "MS Sans Serif" 8 pt makes dialog units of 6 x 13 pixels at 96 DPI, so 100 of them 150 x 162
// (each a quarter and an eighth of those); in proportion at any other DPI, give or take what
// the font's rounding to whole pixels gives.
void ExpectInProportion(const Seen& seen) {
    EXPECT_EQ(seen.dpi, static_cast<UINT>(expectedDpi));
    const double scale = expectedDpi / 96.0;
    EXPECT_NEAR(seen.dialogUnitX, 150 * scale, 150 * scale * 0.12);
    EXPECT_NEAR(seen.dialogUnitY, 162 * scale, 162 * scale * 0.12);
}

TEST(HighDpi, TheSystemRunsAtTheScaleAsked) {
    const HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), expectedDpi);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(GetDpiForSystem(), static_cast<UINT>(expectedDpi));
}

TEST(HighDpi, TheMainWindowShowsEveryTextWhole) {
    CPinToolDlg dialog;
    const Seen seen = Inspect(dialog, "main-window");
    ExpectInProportion(seen);
    EXPECT_EQ(seen.controls, 6);
    EXPECT_EQ(seen.clipped, std::vector<Clipped>{});
}

TEST(HighDpi, ThePinDialogShowsEveryTextWhole) {
    CChangePinDlg dialog;
    const Seen seen = Inspect(dialog, "pin-dialog");
    ExpectInProportion(seen);
    EXPECT_EQ(seen.controls, 8);
    EXPECT_EQ(seen.clipped, std::vector<Clipped>{});
}

TEST(HighDpi, EveryMessageBoxShowsItsTextWhole) {
    std::vector<DetailedMessage> messages;
    for (const Outcome outcome :
         {Outcome::NotSoftCertificate, Outcome::OldPinMissing, Outcome::NewPinMissing,
          Outcome::RepeatMissing, Outcome::RepeatDiffers, Outcome::CannotOpenWithOldPin,
          Outcome::PinChanged, Outcome::FileInUse, Outcome::FileChanged, Outcome::FileGone,
          Outcome::BeyondLimits}) {
        messages.push_back(MessageFor(outcome, Reason::None));
    }
    for (const Reason reason :
         {Reason::FileInUse, Reason::NoWritePermission, Reason::DirectoryNotWritable,
          Reason::DiskFull, Reason::OwnerNotKept, Reason::AttributesNotKept, Reason::OtherLinks,
          Reason::FileTooLarge, Reason::TooManyBags, Reason::TooMuchWork, Reason::ScryptMemory,
          Reason::ProtectionNotRenewable, Reason::NoWorkerThread}) {
        messages.push_back(MessageFor(Outcome::CannotSave, reason));
    }
    for (const DetailedMessage& message : messages) {
        std::vector<Clipped> clipped;
        UINT dpi = 0;
        framework_seams::SetModalHook([&](HWND box) {
            dpi = GetDpiForWindow(box);
            clipped = ClippedTexts(box);
            if (message.text.find('\n') != std::string::npos) {
                Screenshot(box, "message-box");  // the last with a reason is kept
            }
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        });
        CWnd owner;
        owner.MessageBox(message.text.c_str(), kMessageCaption, message.style);
        framework_seams::SetModalHook(nullptr);
        EXPECT_EQ(dpi, static_cast<UINT>(expectedDpi));
        EXPECT_EQ(clipped, std::vector<Clipped>{}) << message.text;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const CPinToolApp app;
    AfxInitToolkit();
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        expectedDpi = std::atoi(argv[1]);
    }
    return RUN_ALL_TESTS();
}
