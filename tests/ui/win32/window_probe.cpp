// Looks at pintool.exe's windows from beside it, in the same Wine session, for the end-to-end
// test: which of its dialogs are shown, which control has the keyboard focus, how many
// characters a field holds and what a message box says. It only reads; the test's keys and
// clicks go through X as a user's do. Every wait polls until its condition holds or a generous
// deadline passes, and a wait that fails says what there was instead. Output is UTF-8.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a loaded machine; a wait that holds ends at once.
constexpr auto kDeadline = std::chrono::seconds(120);
constexpr auto kPoll = std::chrono::milliseconds(100);
// Messages to another process's window: a thread busy for longer counts as "not yet".
constexpr UINT kMessageTimeoutMs = 2000;
constexpr const wchar_t* kProgram = L"pintool.exe";
constexpr const wchar_t* kDialogClass = L"#32770";

enum class Status { Ok = 0, Failed = 1, Usage = 2 };

void Write(FILE* to, const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), to);
    std::fflush(to);
}

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT with a timeout: the text a window itself reports, a static control's included.
std::optional<std::wstring> TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length)) {
        return std::nullopt;
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
        return std::nullopt;
    }
    text.resize(copied);
    return text;
}

std::optional<size_t> TextLengthOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length)) {
        return std::nullopt;
    }
    return length;
}

std::wstring ProgramOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    if (!handle) {
        return L"?";
    }
    wchar_t path[MAX_PATH * 4] = {};
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(handle.get(), 0, path, &size)) {
        return L"?";
    }
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM found) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

bool IsPasswordField(HWND control) {
    return ClassOf(control) == L"Edit" && (GetWindowLongW(control, GWL_STYLE) & ES_PASSWORD);
}

bool IsTextStatic(HWND control) {
    return ClassOf(control) == L"Static" &&
           (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
}

// The active window and keyboard focus of the window's thread, if it has a window at all.
std::optional<GUITHREADINFO> InputStateOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!window || !GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        return std::nullopt;
    }
    return info;
}

std::wstring Number(unsigned long long value) {
    return std::to_wstring(value);
}

std::wstring Quoted(const std::optional<std::wstring>& text) {
    return text ? L"\"" + *text + L"\"" : L"(no answer)";
}

// A control as a report names it: its id, class and text (a PIN field's length only).
std::wstring Describe(HWND control) {
    if (!control) {
        return L"nothing";
    }
    const std::wstring line = L"id " + Number(static_cast<unsigned>(GetDlgCtrlID(control))) + L" " +
                              ClassOf(control) + L" ";
    if (IsPasswordField(control)) {
        const std::optional<size_t> length = TextLengthOf(control);
        return line + (length ? Number(*length) + L" characters" : L"(no answer)");
    }
    return line + Quoted(TextOf(control));
}

// Every visible top-level window with its program, class, title and controls: what a failure
// report shows of the screen.
std::wstring Screen() {
    std::wstring report = L"windows shown:\n";
    for (HWND window : TopLevelWindows()) {
        if (!IsWindowVisible(window)) {
            continue;
        }
        report += L"  " + ProgramOf(window) + L" " + ClassOf(window) + L" " +
                  Quoted(TextOf(window)) + (IsWindowEnabled(window) ? L"" : L" (disabled)") + L"\n";
        for (HWND control : ChildrenOf(window)) {
            if (IsWindowVisible(control)) {
                report += L"    " + Describe(control) + L"\n";
            }
        }
    }
    const HWND foreground = GetForegroundWindow();
    const std::optional<GUITHREADINFO> input = InputStateOf(foreground);
    report += L"foreground: " + (foreground ? Quoted(TextOf(foreground)) : L"none") + L", focus: " +
              (input ? Describe(input->hwndFocus) : L"unknown") + L"\n";
    return report;
}

// Polls until `holds` is true; on the deadline says why (`what`) and what the screen shows.
template <typename Condition>
Status WaitFor(const std::wstring& what, Condition holds) {
    const Clock::time_point deadline = Clock::now() + kDeadline;
    while (!holds()) {
        if (Clock::now() >= deadline) {
            Write(stderr, L"window_probe: " + what + L" within " +
                              Number(std::chrono::seconds(kDeadline).count()) + L" s\n" + Screen());
            return Status::Failed;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return Status::Ok;
}

// pintool.exe's shown dialog of this title that holds a control of this id.
HWND FindDialog(const std::wstring& title, int id) {
    for (HWND window : TopLevelWindows()) {
        if (IsWindowVisible(window) && ClassOf(window) == kDialogClass && TextOf(window) == title &&
            GetDlgItem(window, id) && ProgramOf(window) == kProgram) {
            return window;
        }
    }
    return nullptr;
}

HWND ParseWindow(const wchar_t* text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::wcstoull(text, nullptr, 0)));
}

int ParseId(const wchar_t* text) {
    return static_cast<int>(std::wcstol(text, nullptr, 0));
}

// find TITLE ID: waits for the dialog and prints its handle and its X window (for xdotool).
Status Find(const std::wstring& title, int id) {
    HWND found = nullptr;
    const Status status =
        WaitFor(L"no dialog \"" + title + L"\" with control " + Number(static_cast<unsigned>(id)),
                [&] { return (found = FindDialog(title, id)) != nullptr; });
    if (status == Status::Ok) {
        const auto x11 = reinterpret_cast<UINT_PTR>(GetPropW(found, L"__wine_x11_whole_window"));
        Write(stdout, Number(reinterpret_cast<UINT_PTR>(found)) + L" " + Number(x11) + L"\n");
    }
    return status;
}

// The control that has the keyboard focus in the dialog's thread, if the dialog is active.
HWND FocusIn(HWND dialog) {
    const std::optional<GUITHREADINFO> input = InputStateOf(dialog);
    return input && input->hwndActive == dialog ? input->hwndFocus : nullptr;
}

// The dialog's control a focused window belongs to: itself, or the combo box whose edit it is.
bool IsControl(HWND dialog, HWND focus, int id) {
    for (HWND window = focus; window && window != dialog; window = GetParent(window)) {
        if (GetDlgCtrlID(window) == id && GetParent(window) == dialog) {
            return true;
        }
    }
    return false;
}

// focus DIALOG ID: waits until the dialog is the foreground window, where the keyboard's input
// goes, and the control has the focus in it (ID 0: any control).
Status Focus(HWND dialog, int id) {
    return WaitFor(L"focus is not on control " + Number(static_cast<unsigned>(id)) +
                       L" of the foreground dialog " + Quoted(TextOf(dialog)),
                   [&] {
                       HWND focus = FocusIn(dialog);
                       return GetForegroundWindow() == dialog && focus &&
                              (id == 0 || IsControl(dialog, focus, id));
                   });
}

// length DIALOG ID COUNT: waits until the control holds COUNT characters (UTF-16 units).
Status Length(HWND dialog, int id, size_t count) {
    return WaitFor(L"control " + Number(static_cast<unsigned>(id)) + L" does not hold " +
                       Number(count) + L" characters",
                   [&] { return TextLengthOf(GetDlgItem(dialog, id)) == count; });
}

// checked DIALOG ID: waits until the button is checked.
Status Checked(HWND dialog, int id) {
    return WaitFor(L"control " + Number(static_cast<unsigned>(id)) + L" is not checked", [&] {
        DWORD_PTR state = 0;
        return SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG,
                                   kMessageTimeoutMs, &state) &&
               state == BST_CHECKED;
    });
}

// gone WINDOW: waits until the window is closed or hidden.
Status Gone(HWND window) {
    return WaitFor(L"window " + Quoted(TextOf(window)) + L" is still shown",
                   [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

// center DIALOG ID: prints the screen position of the control's middle, for a click.
Status Center(HWND dialog, int id) {
    RECT rect{};
    if (!GetWindowRect(GetDlgItem(dialog, id), &rect)) {
        Write(stderr,
              L"window_probe: no control " + Number(static_cast<unsigned>(id)) + L"\n" + Screen());
        return Status::Failed;
    }
    Write(stdout, Number(static_cast<unsigned>((rect.left + rect.right) / 2)) + L" " +
                      Number(static_cast<unsigned>((rect.top + rect.bottom) / 2)) + L"\n");
    return Status::Ok;
}

// text DIALOG: prints what a message box says, its text controls' lines.
Status Text(HWND dialog) {
    std::wstring said;
    for (HWND control : ChildrenOf(dialog)) {
        if (!IsTextStatic(control)) {
            continue;
        }
        const std::optional<std::wstring> text = TextOf(control);
        if (!text) {
            Write(stderr, L"window_probe: the message box does not answer\n" + Screen());
            return Status::Failed;
        }
        if (!text->empty()) {
            said += (said.empty() ? L"" : L"\n") + *text;
        }
    }
    Write(stdout, said + L"\n");
    return Status::Ok;
}

Status Usage() {
    Write(stderr,
          L"usage: window_probe find TITLE ID | focus DIALOG ID | length DIALOG ID COUNT |\n"
          L"       checked DIALOG ID | gone WINDOW | center DIALOG ID | text DIALOG | screen\n");
    return Status::Usage;
}

Status Run(const std::vector<std::wstring>& args) {
    const size_t count = args.size();
    const std::wstring command = count > 0 ? args[0] : L"";
    if (command == L"find" && count == 3) {
        return Find(args[1], ParseId(args[2].c_str()));
    }
    if (command == L"focus" && count == 3) {
        return Focus(ParseWindow(args[1].c_str()), ParseId(args[2].c_str()));
    }
    if (command == L"length" && count == 4) {
        return Length(ParseWindow(args[1].c_str()), ParseId(args[2].c_str()),
                      std::wcstoull(args[3].c_str(), nullptr, 10));
    }
    if (command == L"checked" && count == 3) {
        return Checked(ParseWindow(args[1].c_str()), ParseId(args[2].c_str()));
    }
    if (command == L"gone" && count == 2) {
        return Gone(ParseWindow(args[1].c_str()));
    }
    if (command == L"center" && count == 3) {
        return Center(ParseWindow(args[1].c_str()), ParseId(args[2].c_str()));
    }
    if (command == L"text" && count == 2) {
        return Text(ParseWindow(args[1].c_str()));
    }
    if (command == L"screen" && count == 1) {
        Write(stdout, Screen());
        return Status::Ok;
    }
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // UTF-8 bytes as they are: the C runtime's text mode would end each line with "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return static_cast<int>(Run(std::vector<std::wstring>(argv + 1, argv + argc)));
}
