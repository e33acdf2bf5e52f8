#pragma once
// Plays the user's part in the Win32 backend's modal windows, from inside the program: the
// framework's modal hook hands over each dialog once its modal loop runs (a thread timer), and
// each message box once it is shown. Keys are posted to the focused control and go through the
// dialog manager as a user's would; a message box is read, recorded and answered with OK.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/framework/wnd.h"

namespace win32_testing {

struct ShownMessage {
    std::string caption;
    std::string text;
    bool icon;  // an icon beside the text: the tool shows only MB_ICONHAND's
    int buttons;
};

class ModalDriver {
public:
    using Step = std::function<void(HWND dialog)>;

    ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;
    ~ModalDriver();

    void Then(Step step) { m_steps.push_back(std::move(step)); }
    const std::vector<ShownMessage>& messages() const { return m_messages; }
    std::vector<std::string> texts() const;
    int unexpectedDialogs() const { return m_unexpected; }

private:
    void OnShown(HWND window);

    std::deque<Step> m_steps;
    std::vector<ShownMessage> m_messages;
    int m_unexpected = 0;
};

// A window's whole text as UTF-8.
std::string TextOf(HWND window);
std::string TextOf(HWND dialog, int id);
// The id of the control with the keyboard focus, or 0.
int FocusId();
// Gives the control the focus and types the text into it, character by character.
void Type(HWND dialog, int id, const std::string& text);
// Presses a key (VK_RETURN, VK_TAB, ...) where the focus is, through the dialog manager.
void Press(HWND dialog, UINT key, bool shift = false);
// Clicks a button.
void Click(HWND dialog, int id);
// Lets the dialog's messages run until there are none.
void Pump(HWND dialog);

}  // namespace win32_testing
