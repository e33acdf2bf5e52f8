#pragma once
// Plays the user's part in modal windows: each dialog that opens gets the next step of the
// script; every message box is read, recorded and answered with OK.

#include <QFont>
#include <QMessageBox>
#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace ui_testing {

struct ShownMessage {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon;
    int buttons;
    int width;   // of the box as shown
    QFont font;  // of its text
};

class ModalDriver {
public:
    using Step = std::function<void(QWidget& dialog)>;

    ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;
    ~ModalDriver();

    // The next dialog to open is handed to `step`.
    void Then(Step step) { m_steps.push_back(std::move(step)); }

    const std::vector<ShownMessage>& messages() const { return m_messages; }
    std::vector<std::string> texts() const;
    // Dialogs that opened with no step left for them (they were cancelled).
    int unexpectedDialogs() const { return m_unexpected; }

private:
    void OnShown(QWidget& window);

    std::deque<Step> m_steps;
    std::vector<ShownMessage> m_messages;
    int m_unexpected = 0;
};

// The control with the id in a dialog.
QWidget* Control(QWidget& dialog, int id);
// The id of the widget, or 0.
int IdOf(QWidget* widget);
// Gives a control the focus and types into it.
void Type(QWidget& dialog, int id, const QString& text);
// Presses a key where the dialog's keyboard focus is.
void Press(QWidget& dialog, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Types where the dialog's keyboard focus is, as a keyboard-only user does.
void TypeHere(QWidget& dialog, const QString& text);
// Clicks a button.
void Click(QWidget& dialog, int id);
// The text of an edit control.
QString TextOf(QWidget& dialog, int id);

}  // namespace ui_testing
