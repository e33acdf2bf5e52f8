#include "ui/framework/busy_wait.h"

#include <commctrl.h>

#include <vector>

#include "ui/framework/seams.h"
#include "ui/framework/win32/win32_support.h"

namespace {

constexpr DWORD kBusyIndicationDelayMs = 500;

// Set on the windows' thread only, for as long as a wait runs there.
bool waitingForWork = false;

// Input a user gives; while the work runs none of it reaches a window.
bool IsInput(const MSG& message) {
    const UINT m = message.message;
    return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) ||
           (m >= WM_NCMOUSEMOVE && m <= WM_NCXBUTTONDBLCLK) || m == WM_CLOSE ||
           m == WM_SYSCOMMAND || m == WM_CONTEXTMENU;
}

// The thread's enabled top-level windows, disabled until the work is done, so that neither
// click nor key nor close box reaches them.
std::vector<HWND> DisableThreadWindows() {
    std::vector<HWND> disabled;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && IsWindowEnabled(window)) {
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled));
    for (const HWND window : disabled) {
        EnableWindow(window, FALSE);
    }
    return disabled;
}

}  // namespace

bool WindowsWaitForWork() noexcept {
    return waitingForWork;
}

class CBusyWait::Impl {
public:
    explicit Impl(HWND window)
        : m_window(window), m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        waitingForWork = true;
        m_focus = GetFocus();
        m_disabled = DisableThreadWindows();
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() {
        if (m_busy != nullptr) {
            DestroyWindow(m_busy);
        }
        for (const HWND window : m_disabled) {
            EnableWindow(window, TRUE);
        }
        if (m_focus != nullptr && IsWindow(m_focus)) {
            SetFocus(m_focus);
        }
        waitingForWork = false;
        CloseHandle(m_done);
    }

    void Run() {
        framework_seams::RunBusyHook(m_window);
        const ULONGLONG start = GetTickCount64();
        bool quit = false;
        WPARAM exitCode = 0;
        for (;;) {
            const ULONGLONG waited = GetTickCount64() - start;
            const DWORD timeout = m_busy != nullptr || m_window == nullptr ? INFINITE
                                  : waited >= kBusyIndicationDelayMs
                                      ? 0
                                      : static_cast<DWORD>(kBusyIndicationDelayMs - waited);
            const DWORD woken =
                MsgWaitForMultipleObjectsEx(1, &m_done, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woken == WAIT_OBJECT_0) {
                break;
            }
            if (woken == WAIT_TIMEOUT && m_busy == nullptr) {
                ShowBusy();
            }
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    quit = true;
                    exitCode = message.wParam;
                } else if (!IsInput(message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        }
        if (quit) {
            PostQuitMessage(static_cast<int>(exitCode));  // for the loop that comes after
        }
    }

    void Finish() { SetEvent(m_done); }

private:
    // A small bar that keeps moving, in the window's lower left corner.
    void ShowBusy() {
        RECT client{};
        GetClientRect(m_window, &client);
        RECT area{7, 0, 87, 8};  // dialog units
        MapDialogRect(m_window, &area);
        const int height = area.bottom - area.top;
        m_busy = CreateWindowExW(0, PROGRESS_CLASSW, L"Bitte warten",
                                 WS_CHILD | WS_VISIBLE | PBS_MARQUEE, area.left,
                                 client.bottom - area.left - height, area.right - area.left, height,
                                 m_window, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (m_busy != nullptr) {
            SendMessageW(m_busy, PBM_SETMARQUEE, TRUE, 30);
        }
    }

    HWND m_window;
    HANDLE m_done;
    HWND m_focus = nullptr;
    HWND m_busy = nullptr;
    std::vector<HWND> m_disabled;
};

CBusyWait::CBusyWait(CWnd& window) : m_impl(std::make_unique<Impl>(window.GetSafeHwnd())) {}

CBusyWait::~CBusyWait() = default;

void CBusyWait::Run() {
    m_impl->Run();
}

void CBusyWait::Finish() {
    m_impl->Finish();
}
