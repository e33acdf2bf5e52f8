#include "ui/framework/wnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include "ui/framework/seams.h"

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    QWidget* owner = m_hWnd != nullptr ? m_hWnd : QApplication::activeModalWidget();
    QMessageBox box((type & MB_ICONHAND) != 0 ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromUtf8(caption == nullptr ? "" : caption),
                    QString::fromUtf8(text == nullptr ? "" : text), QMessageBox::Ok, owner);
    framework_seams::ScheduleModalHook(box);
    box.exec();
    return IDOK;
}

void CWnd::SetIcon(const HICON& icon, BOOL /*bigIcon*/) {
    if (m_hWnd != nullptr) {
        m_hWnd->setWindowIcon(icon);
    }
}

int CButton::GetCheck() const {
    const auto* button = qobject_cast<const QAbstractButton*>(m_hWnd);
    return button != nullptr && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

CWaitCursor::CWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Lets the cursor reach the screen before the work starts; no input is taken meanwhile.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

CWaitCursor::~CWaitCursor() {
    QApplication::restoreOverrideCursor();
}
