#pragma once
// Turns a dialog template into a Qt window, laid out in dialog units as Windows does.

#include <QDialog>
#include <QFont>
#include <QRect>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "res/dialog_templates.h"

// Dialog units of a font: horizontally a quarter of the average width of "A".."Z" and
// "a".."z", vertically an eighth of the font's height, rounded as Windows' MulDiv rounds.
class CDialogUnits {
public:
    CDialogUnits(int baseX, int baseY) noexcept : m_baseX(baseX), m_baseY(baseY) {}
    static CDialogUnits ForFont(const QFont& font);

    QRect ToPixels(int x, int y, int cx, int cy) const noexcept;
    int baseX() const noexcept { return m_baseX; }
    int baseY() const noexcept { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};

// The template's font, or the system's sans-serif font of the same size where it is missing.
QFont DialogFont(const DialogTemplate& dialog);

// The window of a dialog template. Clicks on buttons, Esc and the close box arrive as
// commands (a control id). The arrow keys move the focus within a group of controls, as the
// platform's dialog manager does.
class CDialogWindow : public QDialog {
public:
    using CommandHandler = std::function<void(int id)>;
    // Paints the window, or says that Qt is to paint it (true).
    using PaintHandler = std::function<bool()>;

    CDialogWindow(const DialogTemplate& dialog, QWidget* owner, CommandHandler onCommand,
                  PaintHandler onPaint);

    // The control with the id, or null; the id of one of the window's controls, or 0. The one
    // lookup of controls by id (GetDlgItem, GetDlgCtrlID).
    QWidget* Control(int id) const;
    int IdOf(const QWidget* control) const;
    // Where the keyboard focus goes when the dialog opens.
    QWidget* FirstTabStop() const;
    // Shows the window and returns the code it ended with: a window of its own as a normal
    // window, a dialog modal to its owner.
    int RunModal();

    void reject() override;  // Esc and the close box: IDCANCEL, as the dialog decides
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* AddControl(const DialogItem& item, const CDialogUnits& units);
    void NameControls();
    void MoveFocusInGroup(std::size_t from, bool backwards);

    std::span<const DialogItem> m_items;
    std::vector<QWidget*> m_controls;  // in template order, owned by the window as children
    CommandHandler m_onCommand;
    PaintHandler m_onPaint;
    bool m_ending = false;
};
