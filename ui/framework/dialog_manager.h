#pragma once
// The dialog manager's rules that do not depend on the window system: how the arrow keys move
// the focus within a group of controls, and which label names a control.

#include <cstddef>
#include <span>

#include "res/dialog_templates.h"

// What the dialog manager needs to know of a control at the moment.
struct ControlState {
    bool enabled;
    bool visible;
};

// The control an arrow key moves the focus to from `current`: the next (or, `backwards`, the
// previous) one of its group, wrapping around. A group runs from a control with WS_GROUP (or the
// first control) up to the next control with WS_GROUP. Labels, and disabled and hidden controls
// are skipped. `current` itself when no other control of the group can take the focus.
std::size_t NextInGroup(std::span<const DialogItem> items, std::span<const ControlState> states,
                        std::size_t current, bool backwards);

// Whether the arrow keys move the focus away from the control; an edit control keeps them for
// its caret.
bool ArrowsMoveFocusFrom(const DialogItem& item) noexcept;

// Whether the control is checked when the arrow keys bring the focus to it.
bool IsAutoRadioButton(const DialogItem& item) noexcept;

// The name a screen reader gives the control: its own accessible name from the template; for an
// edit control the text of the label right before it in the template; otherwise null, and the
// control's own text names it.
const char* AccessibleNameOf(std::span<const DialogItem> items, std::size_t index) noexcept;
