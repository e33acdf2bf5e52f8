#pragma once
// The dialogs as data: controls in tab order, positions in dialog units, Windows styles.

#include <span>

#include "platform/winuser.h"

enum class ControlKind { PushButton, Static, Edit, RadioButton };

struct DialogItem {
    int id;
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;
    DWORD style;  // beyond WS_CHILD | WS_VISIBLE
    // What a screen reader calls the control where its text does not say it; null: the text,
    // or for an edit control the label before it.
    const char* accessibleName = nullptr;
};

struct DialogTemplate {
    int id;
    const char* caption;  // UTF-8
    int cx, cy;           // client size in dialog units
    DWORD style;
    DWORD exStyle;
    const char* fontName;
    int pointSize;
    std::span<const DialogItem> items;
};

// Null for an unknown id.
const DialogTemplate* FindDialogTemplate(int id) noexcept;
