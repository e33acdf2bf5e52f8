// The Qt backend's PIN field: what is typed, composed, pasted and removed reaches its secret;
// the line edit holds masks only, and nothing brings the PIN out or text in past the secret.

#include "ui/framework/qt/pin_edit.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <algorithm>

#include "tests/ui/driver.h"
#include "ui/change_pin_dlg.h"

namespace {

struct Field {
    CPinEdit edit;

    Field() { edit.show(); }
    std::string Pin() const { return edit.Pin().c_str(); }
    void Type(const char* utf8) {
        for (const QChar c : QString::fromUtf8(utf8)) {
            QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int times = 1) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(&edit, key, modifiers);
        }
    }
    // An input method's preedit, or its commit in place of `replaced` characters from `start`.
    void Compose(const char* preedit, const char* commit, int start = 0, int replaced = 0) {
        QInputMethodEvent event(QString::fromUtf8(preedit), {});
        event.setCommitString(QString::fromUtf8(commit), start, replaced);
        QCoreApplication::sendEvent(&edit, &event);
    }
    // As many characters as the PIN has, and none of them.
    bool HoldsOnlyMasks() const {
        const QString pin = QString::fromUtf8(edit.Pin().c_str());
        return edit.text().size() == pin.size() &&
               std::none_of(pin.begin(), pin.end(),
                            [&](QChar c) { return edit.text().contains(c); });
    }
};

TEST(PinEdit, KeysInputMethodsAndEditsInASelectionReachThePinScreenReadersHearAPassword) {
    Field field;
    field.Type("Gr");
    field.Compose("u", "");  // being composed: not yet typed
    EXPECT_EQ(field.Pin(), "Gr");
    field.Compose("", "ü");  // as a dead key and u commit it
    field.Type("ße€42");
    field.Compose("", "ö", -1, 1);  // in place of the 2
    EXPECT_EQ(field.Pin(), "Grüße€4ö");
    EXPECT_TRUE(field.HoldsOnlyMasks());
    field.Key(Qt::Key_Left, Qt::ShiftModifier, 2);
    field.Key(Qt::Key_Backspace);  // "4ö"
    field.Key(Qt::Key_Home);
    field.Key(Qt::Key_Right, Qt::ShiftModifier, 2);
    field.Key(Qt::Key_Delete);  // "Gr"
    field.Key(Qt::Key_Right);
    field.Key(Qt::Key_Right, Qt::ShiftModifier);
    field.Type("ss");  // in place of "ß"
    field.Key(Qt::Key_Backspace);
    EXPECT_EQ(field.Pin(), "üse€");
    field.Key(Qt::Key_A, Qt::ControlModifier);
    field.Type("neu");
    EXPECT_EQ(field.Pin(), "neu");
    EXPECT_TRUE(field.HoldsOnlyMasks());
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&field.edit);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::EditableText);
    EXPECT_TRUE(face->state().passwordEdit);
    EXPECT_FALSE(face->text(QAccessible::Value).contains(u'n'));
}

TEST(PinEdit, PastesEmptyTheClipboardCopyCutUndoAndDropsBringNothingOutOrIn) {
    Field field;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QString::fromUtf8("Grüße€"));
    field.Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(clipboard->text().isEmpty());
    clipboard->setText("9");
    QContextMenuEvent menuAsked(QContextMenuEvent::Keyboard, QPoint(2, 2), QPoint(2, 2));
    QCoreApplication::sendEvent(&field.edit, &menuAsked);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    menu->actions().front()->trigger();  // "Einfügen"
    menu->close();
    EXPECT_EQ(field.Pin(), "Grüße€9");
    EXPECT_TRUE(field.HoldsOnlyMasks());

    clipboard->setText("leer");
    for (const Qt::Key key : {Qt::Key_A, Qt::Key_C, Qt::Key_X}) {
        field.Key(key, Qt::ControlModifier);
    }
    EXPECT_EQ(clipboard->text(), "leer");
    EXPECT_EQ(field.Pin(), "");
    field.Type("neu");
    field.Key(Qt::Key_Z, Qt::ControlModifier);  // in password mode undo empties the field
    EXPECT_EQ(field.Pin(), "");
    QMimeData dragged;
    dragged.setText("fremd");
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&field.edit, &enter);
    QCoreApplication::sendEvent(&field.edit, &drop);
    EXPECT_TRUE(field.edit.text().isEmpty());
}

TEST(PinEdit, LeavingTheDialogWipesThePins) {
    ui_testing::ModalDriver driver;
    std::string left = "?";
    driver.Then([&](HWND window) {
        ui_testing::Type(window, IDC_EDIT_OLD_PIN, "Grüße€");
        ui_testing::Press(window, ui_testing::Key::Escape);
        left = ui_testing::TextOf(window, IDC_EDIT_OLD_PIN);
    });
    CChangePinDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(left, "");
}

}  // namespace
