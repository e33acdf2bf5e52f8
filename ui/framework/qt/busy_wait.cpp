#include "ui/framework/busy_wait.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <memory>

#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/seams.h"

namespace {

constexpr int kBusyIndicationDelayMs = 500;

// Input a user gives; while the work runs none of it reaches a window.
bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
        case QEvent::Drop:
        case QEvent::Close:  // the close box
        case QEvent::Quit:   // the application asked to end
            return true;
        default:
            return false;
    }
}

}  // namespace

class CBusyWait::Impl : public QObject {
public:
    explicit Impl(QWidget* window) : m_window(window) {
        QCoreApplication::instance()->installEventFilter(this);
        m_delay.setSingleShot(true);
        connect(&m_delay, &QTimer::timeout, this, &Impl::ShowBusy);
    }
    ~Impl() override { QCoreApplication::instance()->removeEventFilter(this); }

    void Run() {
        m_delay.start(kBusyIndicationDelayMs);
        if (m_window) {
            framework_seams::RunBusyHook(m_window);
        }
        // Finish sets the flag before it queues the quit, so a quit handled early (inside the
        // hook) is seen here, and one not yet handled ends the loop below.
        while (!m_finished.load()) {
            m_loop.exec();
        }
        m_delay.stop();
    }

    void Finish() {
        m_finished.store(true);
        QMetaObject::invokeMethod(&m_loop, "quit", Qt::QueuedConnection);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return IsInput(event->type()) || QObject::eventFilter(watched, event);
    }

private:
    void ShowBusy() {
        if (!m_window) {
            return;
        }
        // A small bar that keeps moving, in the window's lower left corner.
        const CDialogUnits units = CDialogUnits::ForFont(m_window->font());
        const QRect area = units.ToPixels(7, 0, 80, 8);
        m_busy = std::make_unique<QProgressBar>(m_window);
        m_busy->setRange(0, 0);
        m_busy->setTextVisible(false);
        m_busy->setAccessibleName(QStringLiteral("Bitte warten"));
        m_busy->setGeometry(area.x(), m_window->height() - area.x() - area.height(), area.width(),
                            area.height());
        m_busy->show();
    }

    QPointer<QWidget> m_window;  // outlives the wait: its dialog waits for it
    std::unique_ptr<QProgressBar> m_busy;
    QEventLoop m_loop;
    QTimer m_delay;
    std::atomic<bool> m_finished = false;
};

CBusyWait::CBusyWait(CWnd& window) : m_impl(std::make_unique<Impl>(window.GetSafeHwnd())) {}

CBusyWait::~CBusyWait() = default;

void CBusyWait::Run() {
    m_impl->Run();
}

void CBusyWait::Finish() {
    m_impl->Finish();
}
