#include "ui/framework/wnd.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/framework/seams.h"
#include "ui/framework/win32/win32_support.h"
#include "ui/framework/win_app.h"

namespace {

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

// A window's device context with a font selected, for measuring text.
class MeasuringDc {
public:
    MeasuringDc(HWND window, HFONT font)
        : m_window(window), m_dc(GetDC(window)), m_previous(SelectObject(m_dc, font)) {}
    MeasuringDc(const MeasuringDc&) = delete;
    MeasuringDc& operator=(const MeasuringDc&) = delete;
    ~MeasuringDc() {
        SelectObject(m_dc, m_previous);
        ReleaseDC(m_window, m_dc);
    }
    HDC get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
    HGDIOBJ m_previous;
};

// The system's message box is as wide as its text and buttons, and a window manager cuts a
// longer caption, which it draws in its own font, often a larger and bolder one than the
// system's caption font, between the window's icon and up to three buttons (minimise, maximise,
// close) of about the caption's height each. The room a caption needs: its width in the caption
// font made bold and a quarter larger, and six times the caption's height for the icon, the
// buttons and the gaps and margins between them.
int CaptionRoom(HWND box) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                                    GetDpiForWindow(box))) {
        return 0;
    }
    LOGFONTW caption = metrics.lfCaptionFont;
    caption.lfWeight = FW_BOLD;
    caption.lfHeight = MulDiv(caption.lfHeight, 5, 4);
    const UniqueFont font(CreateFontIndirectW(&caption));
    const int length = GetWindowTextLengthW(box);
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(box, title.data(), length + 1);
    const MeasuringDc dc(box, font.get());
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), title.c_str(), length, &size);
    return size.cx + 6 * metrics.iCaptionHeight;
}

bool IsButton(HWND control) {
    wchar_t name[8] = {};
    return GetClassNameW(control, name, 8) > 0 && lstrcmpiW(name, L"Button") == 0;
}

// Widens a message box, centred where it was, to the room its caption needs. Its buttons keep
// their place: centred, they stay centred; otherwise they keep their distance from the right.
void MakeRoomForCaption(HWND box) {
    RECT frame{};
    GetWindowRect(box, &frame);
    const LONG extra = CaptionRoom(box) - (frame.right - frame.left);
    if (extra <= 0) {
        return;
    }
    RECT client{};
    GetClientRect(box, &client);
    std::vector<std::pair<HWND, RECT>> buttons;
    LONG left = client.right;
    LONG right = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place{};
        if (IsButton(child) && GetWindowRect(child, &place)) {
            MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
            buttons.emplace_back(child, place);
            left = std::min(left, place.left);
            right = std::max(right, place.right);
        }
    }
    const LONG shift = std::abs(left - (client.right - right)) <= 2 ? extra / 2 : extra;
    for (const auto& [button, place] : buttons) {
        SetWindowPos(button, nullptr, place.left + shift, place.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetWindowPos(box, nullptr, frame.left - extra / 2, frame.top, frame.right - frame.left + extra,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK MessageBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR /*data*/) {
    if (message == WM_INITDIALOG) {
        // The box lays itself out here, before it is shown.
        const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
        MakeRoomForCaption(box);
        return result;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(box, &MessageBoxProcedure, id);
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

// The system makes the message box inside MessageBoxW: while it runs, this thread's new
// top-level dialog windows get the procedure above.
LRESULT CALLBACK WatchForMessageBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto window = reinterpret_cast<HWND>(wParam);
        const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        wchar_t name[8] = {};
        if ((create->lpcs->style & WS_CHILD) == 0 && GetClassNameW(window, name, 8) > 0 &&
            lstrcmpW(name, L"#32770") == 0) {
            SetWindowSubclass(window, &MessageBoxProcedure, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class MessageBoxWatch {
public:
    MessageBoxWatch()
        : m_hook(SetWindowsHookExW(WH_CBT, &WatchForMessageBox, nullptr, GetCurrentThreadId())) {}
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;
    ~MessageBoxWatch() {
        if (m_hook != nullptr) {
            UnhookWindowsHookEx(m_hook);
        }
    }

private:
    HHOOK m_hook;
};

}  // namespace

HWND AfxGetSafeOwner(const CWnd* parent) {
    HWND owner = parent != nullptr ? parent->GetSafeHwnd() : nullptr;
    if (owner == nullptr) {
        owner = GetActiveWindow();  // this thread's: the dialog in front
    }
    if (owner == nullptr) {
        const CWinApp* app = AfxGetApp();
        owner =
            app != nullptr && app->m_pMainWnd != nullptr ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    }
    owner = owner != nullptr ? GetAncestor(owner, GA_ROOT) : nullptr;
    // A dialog that has ended is hidden: its owner owns what it shows.
    while (owner != nullptr && !IsWindowVisible(owner) && GetWindow(owner, GW_OWNER) != nullptr) {
        owner = GetWindow(owner, GW_OWNER);
    }
    return owner;
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    const HWND owner = AfxGetSafeOwner(this);
    // A test sees the box once it is shown: it has no handle before that.
    framework_seams::ScheduleModalHook(nullptr);
    const MessageBoxWatch watch;
    MessageBoxW(owner, WideText(text).c_str(), WideText(caption).c_str(), type);
    return IDOK;
}

void CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    if (m_hWnd != nullptr) {
        SendMessageW(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(icon));
    }
}

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && ::IsIconic(m_hWnd) ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
    RECT client{};
    if (m_hWnd != nullptr) {
        ::GetClientRect(m_hWnd, &client);
    }
    *rect = CRect{client.left, client.top, client.right, client.bottom};
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd != nullptr ? SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK)) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
}

struct CPaintDC::PaintState {
    HWND window;
    PAINTSTRUCT paint;
};

CPaintDC::CPaintDC(CWnd* window) {
    if (window != nullptr && window->GetSafeHwnd() != nullptr) {
        m_state = std::make_unique<PaintState>();
        m_state->window = window->GetSafeHwnd();
        m_hDC = BeginPaint(m_state->window, &m_state->paint);
    }
}

CPaintDC::~CPaintDC() {
    if (m_state != nullptr) {
        EndPaint(m_state->window, &m_state->paint);
    }
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
    return m_hDC != nullptr && ::DrawIcon(m_hDC, x, y, icon) ? TRUE : FALSE;
}

CWaitCursor::CWaitCursor() {
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

CWaitCursor::~CWaitCursor() {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}
