#include "tests/ui/win32/win32_driver.h"

#include <commctrl.h>

#include "ui/framework/seams.h"

namespace win32_testing {
namespace {

constexpr int kMessageBoxText = 0xFFFF;  // the static that holds a message box's text

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes,
                        nullptr, nullptr);
    return text;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

bool IsMessageBox(HWND window) {
    return GetDlgItem(window, kMessageBoxText) != nullptr;
}

// The icon beside the text: a visible icon static holding an icon (its id differs between
// Windows and Wine).
bool ShowsIcon(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (std::wstring(name) == L"Static" && IsWindowVisible(child) &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

int CountButtons(HWND box) {
    int buttons = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (std::wstring(name) == L"Button" && IsWindowVisible(child)) {
            ++buttons;
        }
    }
    return buttons;
}

}  // namespace

ModalDriver::ModalDriver() {
    framework_seams::SetModalHook([this](HWND window) { OnShown(window); });
}

ModalDriver::~ModalDriver() {
    framework_seams::SetModalHook(nullptr);
}

std::vector<std::string> ModalDriver::texts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& message : m_messages) {
        texts.push_back(message.text);
    }
    return texts;
}

void ModalDriver::OnShown(HWND window) {
    if (IsMessageBox(window)) {
        m_messages.push_back({TextOf(window), TextOf(window, kMessageBoxText), ShowsIcon(window),
                              CountButtons(window)});
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

std::string TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

std::string TextOf(HWND dialog, int id) {
    return TextOf(GetDlgItem(dialog, id));
}

int FocusId() {
    const HWND focus = GetFocus();
    return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

void Pump(HWND dialog) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsWindow(dialog) || !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void Type(HWND dialog, int id, const std::string& text) {
    const HWND control = GetDlgItem(dialog, id);
    SetFocus(control);
    for (const wchar_t unit : Wide(text)) {
        PostMessageW(control, WM_CHAR, unit, 1);
    }
    Pump(dialog);
}

void Press(HWND dialog, UINT key, bool shift) {
    const HWND focus = GetFocus() != nullptr ? GetFocus() : dialog;
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    Pump(dialog);
    state[VK_SHIFT] = 0;
    SetKeyboardState(state);
}

void Click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    Pump(dialog);
}

}  // namespace win32_testing
