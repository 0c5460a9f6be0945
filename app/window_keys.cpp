#include "Bk_control_main.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcutEvent>
#include <QTreeView>
#include <QWindow>
#include <QFileDialog>
#include <QLabel>

#include "window_parts.h"

using namespace window_parts;

namespace {

bool IsEnterKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Ctrl+1 to Ctrl+6 stand for a click on the list's columns 1 to 6, so that sorting needs no
// mouse; the digit may come from the keypad. Any other key gives -1.
int SortShortcutColumn(const QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return -1;
    const int digit = event->key() - Qt::Key_0;
    return digit >= 1 && digit <= LastColumn + 1 ? digit - 1 : -1;
}

}  // namespace

bool TBK_ControlMain::FocusNextOnEnter(QKeyEvent *event, QWidget *next)
{
    if (!IsEnterKey(event))
        return false;
    next->setFocus(Qt::TabFocusReason);
    return true;
}

bool TBK_ControlMain::ListViewScoresKeyPress(QKeyEvent *event)
{
    const int column = SortShortcutColumn(event);
    if (column >= 0) {
        ListViewScoresColumnClick(column);
        return true;
    }
    if (ListMenuKeyPress(event))
        return true;
    FocusNextOnEnter(event, MemoGreat);
    return false;  // the list still receives the key
}

bool TBK_ControlMain::MemoGreatKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoGood); }
bool TBK_ControlMain::MemoGoodKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoBoo); }
bool TBK_ControlMain::MemoBooKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoMiss); }
bool TBK_ControlMain::MemoMissKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoOK); }
bool TBK_ControlMain::MemoOKKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, ButtonInsert); }

// A live mnemonic never reaches a field: the shortcut takes the key first. What does reach it
// with Alt or Meta held is a chord that is no mnemonic now (a disabled or hidden button's, or
// none), and QLineEdit would type its letter; with Ctrl alone QLineEdit already types nothing.
// AltGr still types: X11 reports it as a group switch, Windows as Ctrl with Alt.
bool TBK_ControlMain::DropChordText(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (event->text().isEmpty() || !(modifiers & (Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const bool altGr = modifiers.testFlag(Qt::GroupSwitchModifier) ||
                       (modifiers.testFlag(Qt::AltModifier) && modifiers.testFlag(Qt::ControlModifier));
    return !altGr;
}

bool TBK_ControlMain::PanelWarningKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape)
        return false;
    ButtonWarningNOClick();  // as Escape cancels any dialog
    return true;
}

// Qt hands an ambiguous mnemonic to its owners in turn, whatever has the focus, and remembers
// the turn across presses: left alone, every second Alt+M would land on Compare even when the
// player wants the Miss field. Here the focus decides: Alt+M goes to MemoMiss, and from
// MemoMiss on to ButtonCompare, which Space or Enter then presses.
void TBK_ControlMain::MissOrCompareMnemonic()
{
    QWidget *target = MemoMiss->hasFocus() ? static_cast<QWidget *>(ButtonCompare) : MemoMiss;
    target->setFocus(Qt::ShortcutFocusReason);
    setAttribute(Qt::WA_KeyboardFocusChange);
}

bool TBK_ControlMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Shortcut && (watched == LabelMiss || watched == ButtonCompare) &&
        static_cast<QShortcutEvent *>(event)->isAmbiguous()) {
        Guarded([this] { MissOrCompareMnemonic(); })();
        return true;
    }
    if (event->type() == QEvent::FocusOut && watched == ListViewScores) {
        Guarded([this] { ListViewScoresExit(); })();
        return false;
    }
    if (event->type() == QEvent::FocusIn && watched == ListViewScores) {
        Guarded([this, event] { ListViewScoresEnter(static_cast<QFocusEvent *>(event)->reason()); })();
        return false;
    }
    if (event->type() == QEvent::FocusIn && IsEntryField(watched)) {
        bool consumed = false;
        Guarded([&] { consumed = EntryFieldEnter(static_cast<QLineEdit *>(watched), static_cast<QFocusEvent *>(event)->reason()); })();
        return consumed;
    }
    if (event->type() == QEvent::ChildPolished && watched == OpenDialog_Enemy) {
        Guarded([this, event] { ReadComparisonBoxWhole(static_cast<QChildEvent *>(event)->child()); })();
        return false;
    }
    if (event->type() == QEvent::Expose && OpenDialog_Enemy != nullptr &&
        watched == OpenDialog_Enemy->windowHandle() && !OpenDialog_Enemy->windowHandle()->isExposed()) {
        Guarded([this] { ComparisonDialogGone(); })();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (IsEnterKey(key) && IsComparisonCompletion(watched)) {
        Guarded([this] { CloseComparisonCompletion(); })();
        return false;  // the key goes on to the name field and accepts the dialog
    }
    bool consumed = false;
    Guarded([&] {
        if (watched == ListViewScores)
            consumed = ListViewScoresKeyPress(key);
        else if (watched == MemoGreat)
            consumed = MemoGreatKeyPress(key);
        else if (watched == MemoGood)
            consumed = MemoGoodKeyPress(key);
        else if (watched == MemoBoo)
            consumed = MemoBooKeyPress(key);
        else if (watched == MemoMiss)
            consumed = MemoMissKeyPress(key);
        else if (watched == MemoOK)
            consumed = MemoOKKeyPress(key);
        else if (watched == PanelWarning)
            consumed = PanelWarningKeyPress(key);
    })();
    return consumed || QWidget::eventFilter(watched, event);
}
