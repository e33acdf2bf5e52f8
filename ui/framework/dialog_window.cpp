#include "ui/framework/dialog_window.h"

#include <QCloseEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

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
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly((item.style & ES_READONLY) != 0);
            edit->setFrame((item.style & WS_BORDER) != 0);
            if ((item.style & ES_PASSWORD) != 0) {
                edit->setEchoMode(QLineEdit::Password);
            }
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

CDialogWindow::CDialogWindow(const DialogTemplate& dialog, QWidget* owner, CommandHandler onCommand)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_onCommand(std::move(onCommand)) {
    setWindowTitle(QString::fromUtf8(dialog.caption));
    setFont(DialogFont(dialog));
    const CDialogUnits units = CDialogUnits::ForFont(font());
    setFixedSize(units.ToPixels(0, 0, dialog.cx, dialog.cy).size());
    QWidget* previousTabStop = nullptr;
    for (const DialogItem& item : dialog.items) {
        QWidget* control = AddControl(item, units);
        if ((item.style & WS_TABSTOP) != 0) {
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, control);
            }
            previousTabStop = control;
        }
    }
}

QWidget* CDialogWindow::AddControl(const DialogItem& item, const CDialogUnits& units) {
    QWidget* control = MakeControl(item, this);
    control->setGeometry(units.ToPixels(item.x, item.y, item.cx, item.cy));
    control->setProperty("controlId", item.id);
    // Tab reaches only tab stops; other controls still take the focus when clicked.
    control->setFocusPolicy((item.style & WS_TABSTOP) != 0     ? Qt::StrongFocus
                            : item.kind == ControlKind::Static ? Qt::NoFocus
                                                               : Qt::ClickFocus);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        connect(button, &QAbstractButton::clicked, this, [this, id = item.id] { m_onCommand(id); });
    }
    return control;
}

QWidget* CDialogWindow::Control(int id) const {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->property("controlId").toInt() == id && id != IDC_STATIC) {
            return child;
        }
    }
    return nullptr;
}

QWidget* CDialogWindow::FirstTabStop() const {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->focusPolicy() == Qt::StrongFocus) {
            return child;
        }
    }
    return nullptr;
}

void CDialogWindow::reject() {
    m_onCommand(IDCANCEL);
}

void CDialogWindow::done(int result) {
    m_ending = true;
    QDialog::done(result);
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
