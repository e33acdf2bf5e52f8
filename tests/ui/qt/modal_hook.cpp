// The modal hook's scheduling on Qt: the hook runs once the window's own modal loop has started.
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "tests/ui/framework_seams.h"

namespace framework_seams {

void ScheduleModalHook(HWND window) {
    if (!HasModalHook()) {
        return;
    }
    // Queued, so that it runs once the window's own modal loop has started.
    QTimer::singleShot(0, window, [target = QPointer<QWidget>(window)] {
        if (target) {
            RunModalHook(target);
        }
    });
}

}  // namespace framework_seams
