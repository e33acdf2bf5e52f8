#include "ui/framework/seams.h"

namespace framework_seams {

void ScheduleModalHook(HWND /*window*/) {}

const FileDialogHook& FileDialogStandIn() {
    static const FileDialogHook none;
    return none;
}

void RunBusyHook(HWND /*window*/) {}

void RunThreadStartHook() {}

}  // namespace framework_seams
