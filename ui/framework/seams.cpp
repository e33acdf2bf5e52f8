#include "ui/framework/seams.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

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

}  // namespace

void SetBusyHook(BusyHook hook) {
    Busy() = std::move(hook);
}

void RunBusyHook(QWidget& window) {
    if (Busy()) {
        const BusyHook hook = Busy();
        hook(window);
    }
}

void SetModalHook(ModalHook hook) {
    Hook() = std::move(hook);
}

void SetFileDialogHook(FileDialogHook hook) {
    FileHook() = std::move(hook);
}

void ScheduleModalHook(QWidget& window) {
    if (!Hook()) {
        return;
    }
    // Queued, so that it runs once the window's own modal loop has started.
    QTimer::singleShot(0, &window, [target = QPointer<QWidget>(&window)] {
        if (target && Hook()) {
            const ModalHook hook = Hook();  // the hook may replace itself
            hook(*target);
        }
    });
}

const FileDialogHook& FileDialogStandIn() {
    return FileHook();
}

}  // namespace framework_seams
