// The modal hook's scheduling on Win32: a thread timer finds each dialog and message box once it is
// shown.
#include <algorithm>
#include <string_view>
#include <vector>

#include "tests/ui/framework_seams.h"
#include "ui/framework/win32/win32_support.h"

namespace framework_seams {
namespace {

struct PendingHook {
    UINT_PTR timer;
    HWND window;  // null: the message box this thread shows next
};

std::vector<PendingHook>& Pending() {
    static std::vector<PendingHook> pending;
    return pending;
}

// A message box of this thread: a visible, enabled dialog window that is none of the
// framework's dialogs (those are disabled while a box they own is up).
HWND ShownMessageBox() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM result) -> BOOL {
            wchar_t className[16] = {};
            GetClassNameW(window, className, 16);
            if (std::wstring_view(className) == L"#32770" && IsWindowVisible(window) &&
                IsWindowEnabled(window) && GetPropW(window, kDialogProperty) == nullptr) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A thread timer: it fires inside whatever modal loop runs, the dialog's or the box's.
void CALLBACK OnTimer(HWND /*window*/, UINT /*message*/, UINT_PTR timer, DWORD /*time*/) {
    auto& pending = Pending();
    const auto entry =
        std::find_if(pending.begin(), pending.end(),
                     [timer](const PendingHook& hook) { return hook.timer == timer; });
    if (entry == pending.end()) {
        KillTimer(nullptr, timer);
        return;
    }
    if (entry->window != nullptr && !IsWindow(entry->window)) {
        KillTimer(nullptr, timer);
        pending.erase(entry);
        return;
    }
    const HWND target = entry->window != nullptr ? entry->window : ShownMessageBox();
    if (target == nullptr || !IsWindowVisible(target)) {
        return;  // not shown yet: the next tick
    }
    KillTimer(nullptr, timer);
    pending.erase(entry);
    RunModalHook(target);
}

}  // namespace

void ScheduleModalHook(HWND window) {
    if (!HasModalHook()) {
        return;
    }
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, &OnTimer);
    if (timer != 0) {
        Pending().push_back({timer, window});
    }
}

}  // namespace framework_seams
