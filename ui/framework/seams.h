#pragma once
// Where tests reach the framework's modal windows. The program never sets these hooks: it shows
// the real windows and waits for the user.

#include <functional>
#include <optional>
#include <string>

#include "ui/framework/wnd.h"

namespace framework_seams {

// Runs inside the modal loop of every dialog and message box once it is shown; the window is
// the real one, to be read and answered like a user would.
using ModalHook = std::function<void(HWND window)>;
void SetModalHook(ModalHook hook);

// Stands in for the file dialog: the chosen full path, or nothing for a cancelled dialog.
using FileDialogHook = std::function<std::optional<std::string>()>;
void SetFileDialogHook(FileDialogHook hook);

// Runs once on the window's thread when a worker thread has started its work, while the windows
// wait for it (input blocked); the window is the one that waits.
using BusyHook = std::function<void(HWND window)>;
void SetBusyHook(BusyHook hook);

// Runs on the window's thread just before a worker thread is started; a test makes the start
// fail by throwing what starting a thread throws when the system gives none (std::system_error).
using ThreadStartHook = std::function<void()>;
void SetThreadStartHook(ThreadStartHook hook);

// For the framework: lets the modal hook see `window` once its modal loop runs (the backend's).
void ScheduleModalHook(HWND window);
// For the framework: runs the modal hook on `window`, if a test set one.
void RunModalHook(HWND window);
bool HasModalHook();
// For the framework: the stand-in for the file dialog, if a test set one.
const FileDialogHook& FileDialogStandIn();
// For the framework: runs the busy hook, if a test set one.
void RunBusyHook(HWND window);
// For the framework: runs the thread-start hook, if a test set one.
void RunThreadStartHook();

}  // namespace framework_seams
