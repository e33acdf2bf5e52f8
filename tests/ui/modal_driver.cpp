#include "tests/ui/modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

#include "ui/framework/seams.h"
#include "ui/framework/wnd.h"

namespace ui_testing {

ModalDriver::ModalDriver() {
    framework_seams::SetModalHook([this](HWND window) { OnShown(*window); });
}

ModalDriver::~ModalDriver() {
    framework_seams::SetModalHook(nullptr);
}

std::vector<std::string> ModalDriver::texts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& message : m_messages) {
        texts.push_back(message.text);
    }
    return texts;
}

void ModalDriver::OnShown(QWidget& window) {
    if (auto* box = qobject_cast<QMessageBox*>(&window)) {
        m_messages.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                              box->icon(), static_cast<int>(box->buttons().size()), box->width(),
                              box->font()});
        box->button(QMessageBox::Ok)->click();
        return;
    }
    if (m_steps.empty()) {
        ++m_unexpected;
        if (auto* dialog = qobject_cast<QDialog*>(&window)) {
            dialog->done(-99);
        }
        return;
    }
    const Step step = std::move(m_steps.front());
    m_steps.pop_front();
    // Keyboard focus moves only in the active window, as for a user.
    window.activateWindow();
    // qWaitForWindowActive counts a window as active while its owner is: wait for the window
    // itself to have the focus.
    static_cast<void>(QTest::qWaitFor(
        [&] { return QGuiApplication::focusWindow() == window.windowHandle(); }, 2000));
    step(window);
    // A step that leaves its dialog open would hang the test: end it with a code no dialog
    // returns, which the test's check of DoModal's result reports.
    auto* dialog = qobject_cast<QDialog*>(&window);
    if (dialog != nullptr && dialog->isVisible()) {
        dialog->done(-98);
    }
}

QWidget* Control(QWidget& dialog, int id) {
    return GetDlgItem(&dialog, id);
}

int IdOf(QWidget* widget) {
    return GetDlgCtrlID(widget);
}

namespace {

QWidget* FocusOf(QWidget& dialog) {
    return dialog.focusWidget() != nullptr ? dialog.focusWidget() : &dialog;
}

// Character by character with its text, so that umlauts and the euro sign type too.
void TypeInto(QWidget* control, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

}  // namespace

void Type(QWidget& dialog, int id, const QString& text) {
    QWidget* control = Control(dialog, id);
    control->setFocus(Qt::MouseFocusReason);
    TypeInto(control, text);
}

void TypeHere(QWidget& dialog, const QString& text) {
    TypeInto(FocusOf(dialog), text);
}

void Press(QWidget& dialog, int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(FocusOf(dialog), static_cast<Qt::Key>(key), modifiers);
}

void Click(QWidget& dialog, int id) {
    QTest::mouseClick(Control(dialog, id), Qt::LeftButton);
}

QString TextOf(QWidget& dialog, int id) {
    return qobject_cast<QLineEdit*>(Control(dialog, id))->text();
}

}  // namespace ui_testing
