#include "ui/framework/wnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPainter>
#include <QSpacerItem>
#include <QStyle>

#include "ui/framework/seams.h"
#include "ui/framework/win_app.h"

namespace {

// Window managers draw captions in a larger, bold font beside their buttons; Qt sizes a box
// for the caption in its own font. The room a caption needs: its width in the bold font a
// quarter larger, and four lines' height for the close box and the frame's margins.
int CaptionRoom(const QString& caption, QFont font) {
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(caption) + 4 * metrics.height();
}

// A row of the box's own grid that keeps it at least `width` wide.
void KeepAtLeastWide(QMessageBox& box, int width) {
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

}  // namespace

QWidget* AfxGetSafeOwner(const CWnd* parent) {
    if (parent != nullptr && parent->GetSafeHwnd() != nullptr) {
        QWidget* owner = parent->GetSafeHwnd()->window();
        // A dialog that has ended is hidden: its owner owns what it shows.
        while (!owner->isVisible() && owner->parentWidget() != nullptr) {
            owner = owner->parentWidget()->window();
        }
        return owner;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    const CWinApp* app = AfxGetApp();
    return app != nullptr && app->m_pMainWnd != nullptr ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    QWidget* owner = AfxGetSafeOwner(this);
    QMessageBox box((type & MB_ICONHAND) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromUtf8(caption == nullptr ? "" : caption),
                    QString::fromUtf8(text == nullptr ? "" : text), QMessageBox::Ok, owner);
    KeepAtLeastWide(box, CaptionRoom(box.windowTitle(), box.font()));
    framework_seams::ScheduleModalHook(&box);
    box.exec();
    return IDOK;
}

void CWnd::SetIcon(HICON icon, BOOL /*bigIcon*/) {
    // Qt keeps one icon in all its sizes for both uses.
    if (m_hWnd != nullptr && icon != nullptr) {
        m_hWnd->setWindowIcon(*icon);
    }
}

BOOL CWnd::IsIconic() const {
    return m_hWnd != nullptr && m_hWnd->isMinimized() ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
    *rect = CRect{};
    if (m_hWnd != nullptr) {
        rect->right = m_hWnd->width();
        rect->bottom = m_hWnd->height();
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) const {
    if (message == BM_GETCHECK) {
        const auto* button = qobject_cast<const QAbstractButton*>(m_hWnd);
        return button != nullptr && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
    }
    // WM_ICONERASEBKGND and the rest: Qt erases and draws its windows itself.
    return 0;
}

struct CPaintDC::PaintState {
    explicit PaintState(QWidget* window) : painter(window) {}
    QPainter painter;
};

CPaintDC::CPaintDC(CWnd* window) {
    if (window != nullptr && window->GetSafeHwnd() != nullptr) {
        m_state = std::make_unique<PaintState>(window->GetSafeHwnd());
        m_hDC = &m_state->painter;
    }
}

CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
    if (m_hDC == nullptr || icon == nullptr) {
        return FALSE;
    }
    const int size = GetSystemMetrics(SM_CXICON);
    m_hDC->drawPixmap(x, y, icon->pixmap(size, size));
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXICON:
        case SM_CYICON:
            return QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
        default:
            return 0;
    }
}

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK));
}

CWaitCursor::CWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Lets the cursor reach the screen before the work starts; no input is taken meanwhile.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

CWaitCursor::~CWaitCursor() {
    QApplication::restoreOverrideCursor();
}
