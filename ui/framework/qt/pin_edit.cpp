#include "ui/framework/qt/pin_edit.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <algorithm>

#include "platform/memory_api.h"

namespace {

// What the line edit holds for each character; it shows its own password character instead.
constexpr QChar kMask = u'*';

bool IsContinuation(char unit) {
    return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
}

// Whether the key types its text, by the line edit's rules: Ctrl and Ctrl+Shift type nothing,
// AltGr (Ctrl+Alt on some systems) does.
bool IsTypedText(const QKeyEvent& key) {
    const QString text = key.text();
    if (text.isEmpty()) {
        return false;
    }
    const QChar first = text.front();
    if (first.category() == QChar::Other_Format) {
        return true;
    }
    const Qt::KeyboardModifiers modifiers = key.modifiers();
    if (modifiers == Qt::ControlModifier ||
        modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        return false;
    }
    return first.isPrint() || first.category() == QChar::Other_PrivateUse ||
           (first.isHighSurrogate() && text.size() > 1 && text[1].isLowSurrogate());
}

// Appends at most `room` characters of `text` as UTF-8, a lone surrogate as U+FFFD; returns how
// many it appended.
int AppendUtf8(Secret& to, QStringView text, int room) {
    static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    int count = 0;
    for (qsizetype i = 0; i < text.size() && count < room; ++i, ++count) {
        char32_t code = text[i].unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(code)) {
            code = QChar::ReplacementCharacter;
        }
        const int length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        char bytes[4];
        for (int k = length - 1; k > 0; --k) {
            bytes[k] = static_cast<char>(0x80 | (code & 0x3F));
            code >>= 6;
        }
        bytes[0] = static_cast<char>(kLead[length] | code);
        to.Append(bytes, static_cast<std::size_t>(length));
    }
    return count;
}

// An entry of a line edit's menu: its text as Qt translates it, and its keys.
QString MenuText(const char* text, QKeySequence::StandardKey keys) {
    return QLineEdit::tr(text) + u'\t' + QKeySequence(keys).toString(QKeySequence::NativeText);
}

}  // namespace

CPinEdit::CPinEdit(QWidget* parent) : QLineEdit(parent) {
    setEchoMode(QLineEdit::Password);
    // Nothing is dropped on it: the line edit would take the text itself.
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, [this] { FollowRemoval(); });
}

void CPinEdit::SetPin(const char* text, std::size_t length) {
    m_pin.Assign(text, length);
    setText(QString(Length(), kMask));
}

void CPinEdit::Wipe() {
    m_pin.Clear();
    clear();
}

void CPinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        // Ctrl+Shift+Insert pastes the selection of X11, as in a line edit.
        const bool selection = event->key() == Qt::Key_Insert &&
                               event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
        Paste(selection ? QClipboard::Selection : QClipboard::Clipboard);
        return;
    }
    if (IsTypedText(*event)) {
        Insert(event->text());
        return;
    }
    // Moving, selecting and removing, which the PIN follows.
    QLineEdit::keyPressEvent(event);
}

void CPinEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString& commit = event->commitString();
    const bool replaces = !commit.isEmpty() || event->replacementLength() > 0;
    if (hasSelectedText() && (replaces || !event->preeditString().isEmpty())) {
        del();  // input takes the selection's place
    }
    if (replaces) {
        // The line edit's preedit ends first: placing its cursor would have the input method
        // commit it again.
        QInputMethodEvent ended;
        QLineEdit::inputMethodEvent(&ended);
        const int from = std::clamp(cursorPosition() + event->replacementStart(), 0, Length());
        setSelection(from, std::clamp(event->replacementLength(), 0, Length() - from));
        Insert(commit);
    }
    // The line edit shows a mask for each character being composed and learns nothing else of
    // them.
    QInputMethodEvent masked(QString(event->preeditString().size(), kMask), event->attributes());
    QLineEdit::inputMethodEvent(&masked);
}

void CPinEdit::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the selection of X11, as in a line edit.
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        Paste(QClipboard::Selection);
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void CPinEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The line edit's own menu would paste into the line edit, and read the clipboard's text to
    // see whether there is any. This one offers paste, delete and select all in Qt's words; in
    // password mode cut and copy are off, and undo only empties the field.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    QAction* paste = menu->addAction(MenuText("&Paste", QKeySequence::Paste), this,
                                     [this] { Paste(QClipboard::Clipboard); });
    paste->setEnabled(clipboard != nullptr && clipboard->hasText());
    QAction* remove = menu->addAction(QLineEdit::tr("Delete"), this, &QLineEdit::del);
    remove->setEnabled(hasSelectedText());
    menu->addSeparator();
    QAction* all = menu->addAction(MenuText("Select All", QKeySequence::SelectAll), this,
                                   &QLineEdit::selectAll);
    all->setEnabled(!text().isEmpty());
    menu->popup(event->globalPos());
}

void CPinEdit::Insert(QStringView text) {
    const bool selected = hasSelectedText();
    const int from = selected ? selectionStart() : cursorPosition();
    const int added = Splice(from, selected ? selectionEnd() : from, text);
    insert(QString(added, kMask));  // in the selection's place
}

void CPinEdit::Paste(QClipboard::Mode mode) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    QString text = clipboard->text(mode);
    if (text.isEmpty() && !hasSelectedText()) {
        return;
    }
    Insert(text);
    if (!text.isEmpty()) {
        // A PIN is on the clipboard no longer, and this copy of it, once the only one, is wiped.
        clipboard->clear(mode);
        if (text.isDetached()) {
            SecureZeroMemory(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
        }
    }
}

int CPinEdit::Splice(int from, int to, QStringView text) {
    const std::size_t begin = ByteOffset(from), end = ByteOffset(to);
    Secret pin;
    // At most three bytes for each UTF-16 unit: no block to grow and give back on the way.
    pin.Reserve(m_pin.size() - (end - begin) + 3 * static_cast<std::size_t>(text.size()));
    pin.Append(m_pin.c_str(), begin);
    const int added = AppendUtf8(pin, text, maxLength() - (Length() - (to - from)));
    pin.Append(m_pin.c_str() + end, m_pin.size() - end);
    m_pin = std::move(pin);
    return added;
}

// Whatever removed masks, what it removed began where the cursor is now.
void CPinEdit::FollowRemoval() {
    const int removed = Length() - static_cast<int>(text().size());
    if (removed > 0) {
        const int from = cursorPosition();
        Splice(from, from + removed, {});
    }
}

int CPinEdit::Length() const noexcept {
    return static_cast<int>(std::count_if(m_pin.c_str(), m_pin.c_str() + m_pin.size(),
                                          [](char unit) { return !IsContinuation(unit); }));
}

std::size_t CPinEdit::ByteOffset(int position) const noexcept {
    std::size_t offset = 0;
    for (int seen = 0; offset < m_pin.size(); ++offset) {
        if (!IsContinuation(m_pin.c_str()[offset]) && seen++ == position) {
            break;
        }
    }
    return offset;
}
