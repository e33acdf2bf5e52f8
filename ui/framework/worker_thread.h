#pragma once
// Long work away from the windows.

#include <functional>

#include "ui/framework/wnd.h"

// Runs `work` on a worker thread and returns true once it is done, with whatever it threw.
// Meanwhile the windows keep painting but take no input (no click, key, close or quit), the wait
// cursor shows, and after half a second `window` shows that it is busy. Nothing ends the work
// early. False, with `work` not begun and the windows as before, when the system could not start
// the thread or shut other processes out of it.
[[nodiscard]] bool RunOnWorkerThread(CWnd& window, const std::function<void()>& work);
