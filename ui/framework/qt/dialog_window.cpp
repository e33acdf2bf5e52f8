#include "ui/framework/qt/dialog_window.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/framework/dialog_manager.h"
#include "ui/framework/qt/pin_edit.h"
#include "ui/framework/wnd.h"

namespace {

// Windows' MulDiv: value * numerator / denominator, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

// As on Windows, a click anywhere in a radio button's rectangle selects it, not only on its
// circle and text.
class CRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

QWidget* MakeControl(const DialogItem& item, QWidget* parent) {
    const QString text = QString::fromUtf8(item.text);
    switch (item.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            // A push button that has the focus takes Enter; otherwise the default one does.
            button->setAutoDefault(true);
            button->setDefault((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            return button;
        }
        case ControlKind::Static: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            return label;
        }
        case ControlKind::Edit: {
            QLineEdit* edit = (item.style & ES_PASSWORD) != 0 ? new CPinEdit(parent)
                                                              : new QLineEdit(text, parent);
            edit->setReadOnly((item.style & ES_READONLY) != 0);
            edit->setFrame((item.style & WS_BORDER) != 0);
            return edit;
        }
        case ControlKind::RadioButton:
            return new CRadioButton(text, parent);
    }
    return nullptr;
}

}  // namespace

CDialogUnits CDialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return CDialogUnits((letters / 26 + 1) / 2, metrics.height());
}

QRect CDialogUnits::ToPixels(int x, int y, int cx, int cy) const noexcept {
    return QRect(MulDiv(x, m_baseX, 4), MulDiv(y, m_baseY, 8), MulDiv(cx, m_baseX, 4),
                 MulDiv(cy, m_baseY, 8));
}

QFont DialogFont(const DialogTemplate& dialog) {
    QFont font(QString::fromUtf8(dialog.fontName), dialog.pointSize);
    if (!QFontInfo(font).exactMatch()) {
        font = QFont();
        font.setStyleHint(QFont::SansSerif);
        font.setFamily(QFont().defaultFamily());
        font.setPointSize(dialog.pointSize);
    }
    return font;
}

namespace {

// A window of its own, with a task-bar entry, for a template with WS_EX_APPWINDOW; otherwise a
// dialog that stays above its owner. Either has a caption with a close box and keeps its size.
Qt::WindowFlags WindowFlagsFor(const DialogTemplate& dialog) {
    const Qt::WindowFlags type = (dialog.exStyle & WS_EX_APPWINDOW) != 0 ? Qt::Window : Qt::Dialog;
    Qt::WindowFlags flags = type | Qt::MSWindowsFixedSizeDialogHint;
    if ((dialog.style & WS_CAPTION) != 0) {
        flags |= Qt::WindowTitleHint;
    }
    if ((dialog.style & WS_SYSMENU) != 0) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

bool IsArrowKey(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return modifiers == Qt::NoModifier &&
           (key.key() == Qt::Key_Left || key.key() == Qt::Key_Right || key.key() == Qt::Key_Up ||
            key.key() == Qt::Key_Down);
}

}  // namespace

CDialogWindow::CDialogWindow(const DialogTemplate& dialog, QWidget* owner, CommandHandler onCommand,
                             PaintHandler onPaint)
    : QDialog((dialog.exStyle & WS_EX_APPWINDOW) != 0 ? nullptr : owner, WindowFlagsFor(dialog)),
      m_items(dialog.items),
      m_onCommand(std::move(onCommand)),
      m_onPaint(std::move(onPaint)) {
    setWindowTitle(QString::fromUtf8(dialog.caption));
    setFont(DialogFont(dialog));
    const CDialogUnits units = CDialogUnits::ForFont(font());
    setFixedSize(units.ToPixels(0, 0, dialog.cx, dialog.cy).size());
    QWidget* previousTabStop = nullptr;
    for (const DialogItem& item : m_items) {
        QWidget* control = AddControl(item, units);
        m_controls.push_back(control);
        if ((item.style & WS_TABSTOP) != 0) {
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, control);
            }
            previousTabStop = control;
        }
    }
    NameControls();
}

QWidget* CDialogWindow::AddControl(const DialogItem& item, const CDialogUnits& units) {
    QWidget* control = MakeControl(item, this);
    control->setGeometry(units.ToPixels(item.x, item.y, item.cx, item.cy));
    // Tab reaches only tab stops; other controls still take the focus when clicked.
    control->setFocusPolicy((item.style & WS_TABSTOP) != 0     ? Qt::StrongFocus
                            : item.kind == ControlKind::Static ? Qt::NoFocus
                                                               : Qt::ClickFocus);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        connect(button, &QAbstractButton::clicked, this, [this, id = item.id] { m_onCommand(id); });
    }
    control->installEventFilter(this);
    return control;
}

void CDialogWindow::NameControls() {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (const char* name = AccessibleNameOf(m_items, i)) {
            m_controls[i]->setAccessibleName(QString::fromUtf8(name));
        }
        // The label before an edit control is its label for assistive technology too.
        if (m_items[i].kind == ControlKind::Edit && i > 0) {
            if (auto* label = qobject_cast<QLabel*>(m_controls[i - 1])) {
                label->setBuddy(m_controls[i]);
            }
        }
    }
}

QWidget* CDialogWindow::Control(int id) const {
    if (id == IDC_STATIC) {
        return nullptr;
    }
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id) {
            return m_controls[i];
        }
    }
    return nullptr;
}

int CDialogWindow::IdOf(const QWidget* control) const {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_controls[i] == control) {
            return m_items[i].id;
        }
    }
    return 0;
}

QWidget* CDialogWindow::FirstTabStop() const {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if ((m_items[i].style & WS_TABSTOP) != 0) {
            return m_controls[i];
        }
    }
    return nullptr;
}

int CDialogWindow::RunModal() {
    if (parentWidget() != nullptr || windowType() != Qt::Window) {
        return exec();
    }
    // A top-level window of its own is shown as a normal window, not a modal one: the window
    // manager lists it like any application window, and the dialogs it opens are modal to it.
    show();
    if (!m_ending) {
        QEventLoop loop;
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::DialogExec);
    }
    return result();
}

bool CDialogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && IsArrowKey(*static_cast<QKeyEvent*>(event))) {
        const auto* key = static_cast<QKeyEvent*>(event);
        for (std::size_t i = 0; i < m_controls.size(); ++i) {
            if (m_controls[i] == watched && ArrowsMoveFocusFrom(m_items[i])) {
                MoveFocusInGroup(i, key->key() == Qt::Key_Left || key->key() == Qt::Key_Up);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CDialogWindow::MoveFocusInGroup(std::size_t from, bool backwards) {
    std::vector<ControlState> states;
    states.reserve(m_controls.size());
    for (const QWidget* control : m_controls) {
        states.push_back({control->isEnabled(), control->isVisible()});
    }
    const std::size_t to = NextInGroup(m_items, states, from, backwards);
    if (to == from) {
        return;
    }
    m_controls[to]->setFocus(Qt::OtherFocusReason);
    auto* button = qobject_cast<QAbstractButton*>(m_controls[to]);
    if (IsAutoRadioButton(m_items[to]) && button != nullptr && !button->isChecked()) {
        button->click();
    }
}

void CDialogWindow::reject() {
    m_onCommand(IDCANCEL);
}

void CDialogWindow::done(int result) {
    m_ending = true;
    // The PINs go with the dialog, as the edit controls of Windows' dialogs are overwritten;
    // what the dialog keeps of them it exchanged before it ended.
    for (QWidget* control : m_controls) {
        if (auto* pin = dynamic_cast<CPinEdit*>(control)) {
            pin->Wipe();
        }
    }
    QDialog::done(result);
}

void CDialogWindow::paintEvent(QPaintEvent* event) {
    if (m_onPaint()) {
        QDialog::paintEvent(event);
    }
}

HWND GetDlgItem(HWND dialog, int id) {
    const auto* window = dynamic_cast<const CDialogWindow*>(dialog);
    return window != nullptr ? window->Control(id) : nullptr;
}

int GetDlgCtrlID(HWND control) {
    const auto* window =
        control != nullptr ? dynamic_cast<const CDialogWindow*>(control->parentWidget()) : nullptr;
    return window != nullptr ? window->IdOf(control) : 0;
}

void CDialogWindow::closeEvent(QCloseEvent* event) {
    // The close box asks the dialog like Esc does; the dialog ends itself if it agrees.
    if (!m_ending) {
        event->ignore();
        m_onCommand(IDCANCEL);
        return;
    }
    QDialog::closeEvent(event);
}
