#pragma once
// Where test programs reach the framework's modal windows, its busy wait and its worker
// thread. The program links seams.cpp, whose definitions do nothing: it shows the real windows
// and waits for the user. Test programs link their own (tests/ui/framework_seams.cpp), so the
// program carries no hook of theirs.

#include <functional>
#include <optional>
#include <string>

#include "ui/framework/wnd.h"

namespace framework_seams {

// Stands in for the file dialog: the chosen full path, or nothing for a cancelled dialog.
using FileDialogHook = std::function<std::optional<std::string>()>;

// Called as every dialog and message box is about to run its modal loop (null: the message box
// this thread shows next).
void ScheduleModalHook(HWND window);
// The stand-in for the file dialog; empty: the real one.
const FileDialogHook& FileDialogStandIn();
// Called once on the window's thread when a worker thread has started its work, while the
// windows wait for it (input blocked); the window is the one that waits.
void RunBusyHook(HWND window);
// Called on the window's thread just before a worker thread is started; throws what starting
// a thread throws to refuse it.
void RunThreadStartHook();

}  // namespace framework_seams
