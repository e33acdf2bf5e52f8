// Linked into a copy of pintool for the start-up benchmark: when the main window is shown it
// prints "shown <peak resident KiB>" and closes the window, so that the process ends.

#include <sys/resource.h>

#include <QDialog>
#include <cstdio>

#include "tests/ui/framework_seams.h"

namespace {

const bool installed = [] {
    framework_seams::SetModalHook([](HWND window) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("shown %ld\n", usage.ru_maxrss);
        std::fflush(stdout);
        if (auto* dialog = qobject_cast<QDialog*>(window)) {
            dialog->reject();
        }
    });
    return true;
}();

}  // namespace
