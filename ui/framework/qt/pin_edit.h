#pragma once
// A password field whose PIN Qt never holds. It is a line edit in password mode whose own text
// is one mask for each character typed: what brings text (keys, input methods, the clipboard)
// goes into the tool's secret type instead, and what the line edit removes itself (Backspace,
// Delete, cut, undo, emptying) is removed from the secret at the same place. Qt replaces its
// strings without wiping them; masks are all it has to leave behind.

#include <QClipboard>
#include <QLineEdit>
#include <cstddef>

#include "platform/secret.h"

class CPinEdit : public QLineEdit {
public:
    explicit CPinEdit(QWidget* parent = nullptr);

    // What was typed, UTF-8.
    const Secret& Pin() const noexcept { return m_pin; }
    void SetPin(const char* text, std::size_t length);
    // Wipes the PIN and empties the field.
    void Wipe();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Puts `text` where the selection or the cursor is, as the line edit would.
    void Insert(QStringView text);
    void Paste(QClipboard::Mode mode);
    // Replaces the characters [from, to) of the PIN with as much of `text` as the field's
    // length allows; returns the number of characters put in.
    int Splice(int from, int to, QStringView text);
    void FollowRemoval();
    int Length() const noexcept;
    std::size_t ByteOffset(int position) const noexcept;

    Secret m_pin;
};
