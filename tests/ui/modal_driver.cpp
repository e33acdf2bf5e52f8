#include "tests/ui/modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

#include "ui/framework/seams.h"

namespace ui_testing {

ModalDriver::ModalDriver() {
    framework_seams::SetModalHook([this](QWidget& window) { OnShown(window); });
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
                              box->icon(), static_cast<int>(box->buttons().size())});
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
    static_cast<void>(QTest::qWaitForWindowActive(&window, 2000));
    step(window);
    // A step that leaves its dialog open would hang the test: end it with a code no dialog
    // returns, which the test's check of DoModal's result reports.
    auto* dialog = qobject_cast<QDialog*>(&window);
    if (dialog != nullptr && dialog->isVisible()) {
        dialog->done(-98);
    }
}

QWidget* Control(QWidget& dialog, int id) {
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (IdOf(child) == id) {
            return child;
        }
    }
    return nullptr;
}

int IdOf(const QWidget* widget) {
    return widget == nullptr ? 0 : widget->property("controlId").toInt();
}

void Type(QWidget& dialog, int id, const QString& text) {
    QWidget* control = Control(dialog, id);
    control->setFocus(Qt::MouseFocusReason);
    // Character by character with its text, so that umlauts and the euro sign type too.
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void Press(QWidget& dialog, int key) {
    QWidget* target = dialog.focusWidget() != nullptr ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, static_cast<Qt::Key>(key));
}

void Click(QWidget& dialog, int id) {
    QTest::mouseClick(Control(dialog, id), Qt::LeftButton);
}

QString TextOf(QWidget& dialog, int id) {
    return qobject_cast<QLineEdit*>(Control(dialog, id))->text();
}

}  // namespace ui_testing
