#include "tests/ui/framework_seams.h"

namespace framework_seams {
namespace {

ModalHook& Hook() {
    static ModalHook hook;
    return hook;
}

FileDialogHook& FileHook() {
    static FileDialogHook hook;
    return hook;
}

BusyHook& Busy() {
    static BusyHook hook;
    return hook;
}

ThreadStartHook& ThreadStart() {
    static ThreadStartHook hook;
    return hook;
}

}  // namespace

void SetThreadStartHook(ThreadStartHook hook) {
    ThreadStart() = std::move(hook);
}

void RunThreadStartHook() {
    if (ThreadStart()) {
        const ThreadStartHook hook = ThreadStart();
        hook();
    }
}

void SetBusyHook(BusyHook hook) {
    Busy() = std::move(hook);
}

void RunBusyHook(HWND window) {
    if (Busy()) {
        const BusyHook hook = Busy();
        hook(window);
    }
}

void SetModalHook(ModalHook hook) {
    Hook() = std::move(hook);
}

bool HasModalHook() {
    return static_cast<bool>(Hook());
}

void RunModalHook(HWND window) {
    if (Hook()) {
        const ModalHook hook = Hook();  // the hook may replace itself
        hook(window);
    }
}

void SetFileDialogHook(FileDialogHook hook) {
    FileHook() = std::move(hook);
}

const FileDialogHook& FileDialogStandIn() {
    return FileHook();
}

}  // namespace framework_seams
