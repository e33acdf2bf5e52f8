#pragma once
// Plays the user's part in the dialogs, on either backend: each dialog that opens gets the next
// step of the script; every message box is read, recorded and answered with OK. Keys and clicks
// go through the backend's own input handling, as a user's would. The Qt backend's driver is
// in tests/ui/qt, the Win32 backend's in tests/ui/win32.

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/outcome.h"
#include "ui/framework/wnd.h"

namespace ui_testing {

// The icon beside a message box's text.
enum class MessageIcon { None, Error, Warning, Information, Question, Other };

struct ShownMessage {
    std::string caption;
    std::string text;
    MessageIcon icon;
    int buttons;
    int width;  // of the box as shown, in pixels

    // What a user reads and sees; the width is the backend's.
    bool operator==(const ShownMessage& other) const {
        return caption == other.caption && text == other.text && icon == other.icon &&
               buttons == other.buttons;
    }
};
void PrintTo(const ShownMessage& message, std::ostream* out);

// The message box a user must see for the outcome: its text and reason, the tool's caption,
// the error icon where the outcome asks for it, and one OK button.
ShownMessage ShownFor(Outcome outcome, Reason reason = Reason::None);

class ModalDriver {
public:
    using Step = std::function<void(HWND dialog)>;

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
    void OnShown(HWND window);

    std::deque<Step> m_steps;
    std::vector<ShownMessage> m_messages;
    int m_unexpected = 0;
};

enum class Key { Return, Escape, Tab, ShiftTab, Up, Down, F1 };

// The id of the control with the dialog's keyboard focus, or 0.
int FocusId(HWND dialog);
// Presses a key where the dialog's keyboard focus is.
void Press(HWND dialog, Key key);
// Gives a control the focus and types into it, character by character (UTF-8).
void Type(HWND dialog, int id, const std::string& text);
// Types where the dialog's keyboard focus is, as a keyboard-only user does.
void TypeHere(HWND dialog, const std::string& text);
// Clicks a button.
void Click(HWND dialog, int id);
// Empties an edit control.
void Clear(HWND dialog, int id);
// The close box of the window's caption.
void CloseBox(HWND window);
// What a desktop asks of an application that is to end.
void RequestQuit();

// The caption of a window; the text of a control.
std::string TitleOf(HWND window);
std::string TextOf(HWND dialog, int id);
bool IsShown(HWND window);
bool IsChecked(HWND dialog, int id);
// The edit shows placeholders, not what was typed.
bool IsMasked(HWND dialog, int id);
// The sizes (width, height) of the window's icons.
std::vector<std::pair<int, int>> IconSizesOf(HWND window);
// The moving bar that says the work goes on.
bool ShowsBusyBar(HWND window);
bool ShowsWaitCursor();
// Runs `action` on the windows' thread after `ms` milliseconds, while their messages run.
void After(int ms, std::function<void()> action);

}  // namespace ui_testing
