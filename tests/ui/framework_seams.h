#pragma once
// The framework's seams as test programs have them (framework_seams.cpp and the backend's
// modal_hook.cpp): hooks a test sets to read and answer the real windows.

#include <functional>

#include "ui/framework/seams.h"

namespace framework_seams {

// Runs inside the modal loop of every dialog and message box once it is shown; the window is
// the real one, to be read and answered like a user would.
using ModalHook = std::function<void(HWND window)>;
void SetModalHook(ModalHook hook);
void SetFileDialogHook(FileDialogHook hook);
using BusyHook = std::function<void(HWND window)>;
void SetBusyHook(BusyHook hook);
// A test makes the start of a worker thread fail by throwing what starting a thread throws
// when the system gives none (std::system_error).
using ThreadStartHook = std::function<void()>;
void SetThreadStartHook(ThreadStartHook hook);

// For the backend's ScheduleModalHook: whether a test set a modal hook, and running it.
bool HasModalHook();
void RunModalHook(HWND window);

}  // namespace framework_seams
