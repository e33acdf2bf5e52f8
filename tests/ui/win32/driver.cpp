// The dialogs' driver on the Win32 backend, from inside the program: the framework's modal hook
// hands over each dialog once its modal loop runs (a thread timer), and each message box once
// it is shown. Keys and clicks are posted to the controls as the system posts a user's, and go
// through the dialog manager; while the framework waits for work they are only posted, for its
// loop to take or leave.

#include "tests/ui/driver.h"

#include <commctrl.h>

#include <map>

#include "tests/ui/framework_seams.h"
#include "ui/framework/win32/win32_support.h"

namespace ui_testing {
namespace {

constexpr int kMessageBoxText = 0xFFFF;  // the static that holds a message box's text

std::wstring ClassOf(HWND window) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    return name;
}

// The visible children of a window of one class.
std::vector<HWND> ChildrenOf(HWND window, const wchar_t* className) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == className && IsWindowVisible(child)) {
            children.push_back(child);
        }
    }
    return children;
}

bool IsMessageBox(HWND window) {
    return GetDlgItem(window, kMessageBoxText) != nullptr;
}

// The system's icon the box shows beside its text (the icon static's id differs between
// Windows and Wine).
MessageIcon IconOf(HWND box) {
    for (const HWND child : ChildrenOf(box, L"Static")) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            continue;
        }
        const auto shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (shown == nullptr) {
            continue;
        }
        static const std::pair<LPCSTR, MessageIcon> kIcons[] = {
            {IDI_HAND, MessageIcon::Error},
            {IDI_EXCLAMATION, MessageIcon::Warning},
            {IDI_ASTERISK, MessageIcon::Information},
            {IDI_QUESTION, MessageIcon::Question}};
        for (const auto& [name, icon] : kIcons) {
            if (LoadIconA(nullptr, name) == shown) {
                return icon;
            }
        }
        return MessageIcon::Other;
    }
    return MessageIcon::None;
}

// Lets the dialog's messages run until there are none; while the framework waits for work,
// its own loop runs them.
void Pump(HWND dialog) {
    if (WindowsWaitForWork()) {
        return;
    }
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsWindow(dialog) || !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

UINT VirtualKeyOf(Key key) {
    switch (key) {
        case Key::Return:
            return VK_RETURN;
        case Key::Escape:
            return VK_ESCAPE;
        case Key::Tab:
        case Key::ShiftTab:
            return VK_TAB;
        case Key::Up:
            return VK_UP;
        case Key::Down:
            return VK_DOWN;
        case Key::F1:
            return VK_F1;
    }
    return 0;
}

void SetShift(bool down) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

std::map<UINT_PTR, std::function<void()>>& Timers() {
    static std::map<UINT_PTR, std::function<void()>> timers;
    return timers;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    const auto found = Timers().find(id);
    if (found != Timers().end()) {
        const std::function<void()> action = std::move(found->second);
        Timers().erase(found);
        action();
    }
}

}  // namespace

ModalDriver::ModalDriver() {
    framework_seams::SetModalHook([this](HWND window) { OnShown(window); });
}

ModalDriver::~ModalDriver() {
    framework_seams::SetModalHook(nullptr);
}

void ModalDriver::OnShown(HWND window) {
    if (IsMessageBox(window)) {
        RECT box{};
        GetWindowRect(window, &box);
        m_messages.push_back({TitleOf(window), TextOf(window, kMessageBoxText), IconOf(window),
                              static_cast<int>(ChildrenOf(window, L"Button").size()),
                              static_cast<int>(box.right - box.left)});
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        return;
    }
    if (m_steps.empty()) {
        ++m_unexpected;
        EndDialog(window, -99);
        return;
    }
    const Step step = std::move(m_steps.front());
    m_steps.pop_front();
    step(window);
    // A step that leaves its dialog open would hang the test: end it with a code no dialog
    // returns, which the test's check of DoModal's result reports.
    if (IsWindow(window) && IsWindowVisible(window)) {
        EndDialog(window, -98);
    }
}

int FocusId(HWND) {
    const HWND focus = GetFocus();
    return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

void Press(HWND dialog, Key key) {
    const HWND focus = GetFocus() != nullptr ? GetFocus() : dialog;
    const UINT code = VirtualKeyOf(key);
    SetShift(key == Key::ShiftTab);
    PostMessageW(focus, WM_KEYDOWN, code, 1);
    PostMessageW(focus, WM_KEYUP, code, 0xC0000001);
    Pump(dialog);
    SetShift(false);
}

void TypeHere(HWND dialog, const std::string& text) {
    const HWND focus = GetFocus() != nullptr ? GetFocus() : dialog;
    const WideText wide(text.c_str());
    for (const wchar_t* unit = wide.c_str(); *unit != L'\0'; ++unit) {
        PostMessageW(focus, WM_CHAR, *unit, 1);
    }
    Pump(dialog);
}

void Type(HWND dialog, int id, const std::string& text) {
    SetFocus(GetDlgItem(dialog, id));
    TypeHere(dialog, text);
}

void Click(HWND dialog, int id) {
    const HWND button = GetDlgItem(dialog, id);
    RECT area{};
    GetClientRect(button, &area);
    const LPARAM middle = MAKELPARAM(area.right / 2, area.bottom / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(button, WM_LBUTTONUP, 0, middle);
    Pump(dialog);
}

void Clear(HWND dialog, int id) {
    SetDlgItemTextW(dialog, id, L"");
}

void CloseBox(HWND window) {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump(window);
}

void RequestQuit() {
    // The session's end asks every top-level window of the thread.
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
            PostMessageW(window, WM_CLOSE, 0, 0);
            return TRUE;
        },
        0);
}

std::string TitleOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return static_cast<const char*>(Utf8Text(text.data(), static_cast<int>(text.size())));
}

std::string TextOf(HWND dialog, int id) {
    return TitleOf(GetDlgItem(dialog, id));
}

bool IsShown(HWND window) {
    return IsWindow(window) && IsWindowVisible(window);
}

bool IsChecked(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsMasked(HWND dialog, int id) {
    const HWND edit = GetDlgItem(dialog, id);
    return (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0 &&
           SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0) != 0;
}

std::vector<std::pair<int, int>> IconSizesOf(HWND window) {
    std::vector<std::pair<int, int>> sizes;
    for (const WPARAM which : {ICON_SMALL, ICON_BIG}) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
        ICONINFO info{};
        if (icon == nullptr || !GetIconInfo(icon, &info)) {
            continue;
        }
        BITMAP bitmap{};
        GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        sizes.emplace_back(bitmap.bmWidth, bitmap.bmHeight);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    return sizes;
}

bool ShowsBusyBar(HWND window) {
    return !ChildrenOf(window, PROGRESS_CLASSW).empty();
}

bool ShowsWaitCursor() {
    return GetCursor() == LoadCursorA(nullptr, IDC_WAIT);
}

void After(int ms, std::function<void()> action) {
    const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(ms), OnTimer);
    Timers()[id] = std::move(action);
}

}  // namespace ui_testing
