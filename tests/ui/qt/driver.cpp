// The dialogs' driver on the Qt backend: keys and clicks are Qt events sent to the widgets.

#include "tests/ui/driver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "tests/ui/framework_seams.h"
#include "ui/framework/qt/pin_edit.h"

namespace ui_testing {

ModalDriver::ModalDriver() {
    framework_seams::SetModalHook([this](HWND window) { OnShown(window); });
}

ModalDriver::~ModalDriver() {
    framework_seams::SetModalHook(nullptr);
}

namespace {

MessageIcon IconOf(const QMessageBox& box) {
    switch (box.icon()) {
        case QMessageBox::NoIcon:
            return MessageIcon::None;
        case QMessageBox::Critical:
            return MessageIcon::Error;
        case QMessageBox::Warning:
            return MessageIcon::Warning;
        case QMessageBox::Information:
            return MessageIcon::Information;
        case QMessageBox::Question:
            return MessageIcon::Question;
    }
    return MessageIcon::Other;
}

QWidget* FocusOf(HWND dialog) {
    return dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
}

// Character by character with its text, so that umlauts and the euro sign type too.
void TypeInto(QWidget* control, const std::string& text) {
    for (const QChar c : QString::fromStdString(text)) {
        QTest::sendKeyEvent(QTest::Click, control, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

QLineEdit* EditOf(HWND dialog, int id) {
    return qobject_cast<QLineEdit*>(GetDlgItem(dialog, id));
}

}  // namespace

void ModalDriver::OnShown(HWND window) {
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        m_messages.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                              IconOf(*box), static_cast<int>(box->buttons().size()), box->width()});
        box->button(QMessageBox::Ok)->click();
        return;
    }
    if (m_steps.empty()) {
        ++m_unexpected;
        if (auto* dialog = qobject_cast<QDialog*>(window)) {
            dialog->done(-99);
        }
        return;
    }
    const Step step = std::move(m_steps.front());
    m_steps.pop_front();
    // Keyboard focus moves only in the active window, as for a user.
    window->activateWindow();
    // qWaitForWindowActive counts a window as active while its owner is: wait for the window
    // itself to have the focus, as long as a loaded machine may take; a window that never gets
    // it fails the test.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QGuiApplication::focusWindow() == window->windowHandle(); }, 120000))
        << "the window did not get the focus: " << window->windowTitle().toStdString();
    step(window);
    // A step that leaves its dialog open would hang the test: end it with a code no dialog
    // returns, which the test's check of DoModal's result reports.
    auto* dialog = qobject_cast<QDialog*>(window);
    if (dialog != nullptr && dialog->isVisible()) {
        dialog->done(-98);
    }
}

int FocusId(HWND dialog) {
    return GetDlgCtrlID(dialog->focusWidget());
}

void Press(HWND dialog, Key key) {
    static constexpr std::pair<Key, Qt::Key> kKeys[] = {
        {Key::Return, Qt::Key_Return}, {Key::Escape, Qt::Key_Escape}, {Key::Tab, Qt::Key_Tab},
        {Key::ShiftTab, Qt::Key_Tab},  {Key::Up, Qt::Key_Up},         {Key::Down, Qt::Key_Down},
        {Key::F1, Qt::Key_F1}};
    for (const auto& [ours, qt] : kKeys) {
        if (ours == key) {
            QTest::keyClick(FocusOf(dialog), qt,
                            key == Key::ShiftTab ? Qt::ShiftModifier : Qt::NoModifier);
        }
    }
}

void Type(HWND dialog, int id, const std::string& text) {
    QWidget* control = GetDlgItem(dialog, id);
    control->setFocus(Qt::MouseFocusReason);
    TypeInto(control, text);
}

void TypeHere(HWND dialog, const std::string& text) {
    TypeInto(FocusOf(dialog), text);
}

void Click(HWND dialog, int id) {
    QTest::mouseClick(GetDlgItem(dialog, id), Qt::LeftButton);
}

void Clear(HWND dialog, int id) {
    EditOf(dialog, id)->clear();
}

void CloseBox(HWND window) {
    window->close();
}

void RequestQuit() {
    QCoreApplication::quit();
}

std::string TitleOf(HWND window) {
    return window->windowTitle().toStdString();
}

std::string TextOf(HWND dialog, int id) {
    if (const auto* pin = dynamic_cast<const CPinEdit*>(GetDlgItem(dialog, id))) {
        return pin->Pin().c_str();
    }
    return EditOf(dialog, id)->text().toStdString();
}

bool IsShown(HWND window) {
    return window->isVisible();
}

bool IsChecked(HWND dialog, int id) {
    const auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(dialog, id));
    return button != nullptr && button->isChecked();
}

bool IsMasked(HWND dialog, int id) {
    const QLineEdit* edit = EditOf(dialog, id);
    const QString typed = QString::fromStdString(TextOf(dialog, id));
    return edit->echoMode() == QLineEdit::Password &&
           (typed.isEmpty() || !edit->displayText().contains(typed));
}

std::vector<std::pair<int, int>> IconSizesOf(HWND window) {
    std::vector<std::pair<int, int>> sizes;
    for (const QSize& size : window->windowIcon().availableSizes()) {
        sizes.emplace_back(size.width(), size.height());
    }
    return sizes;
}

bool ShowsBusyBar(HWND window) {
    const auto* bar = window->findChild<QProgressBar*>();
    return bar != nullptr && bar->isVisible();
}

bool ShowsWaitCursor() {
    return QApplication::overrideCursor() != nullptr &&
           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

void After(int ms, std::function<void()> action) {
    QTimer::singleShot(ms, std::move(action));
}

}  // namespace ui_testing
