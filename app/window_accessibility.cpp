#include "Bk_control_main.h"

#include <algorithm>
#include <QAccessible>
#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeView>

#include "window_parts.h"

using namespace window_parts;

namespace {

constexpr char AccessibleRoleProperty[] = "briskoAccessibleRole";
constexpr int ResultPauseMilliseconds = 500;

// Qt gives every plain QFrame and the bare top-level QWidget a generic role, which screen
// readers take for a window of its own (a frame) or skip as a filler; the window names the
// role these widgets really play.
//
// Qt asks for every widget, once for each class it derives from. Only plain frames and widgets
// and the window are given roles: every other widget is turned away before the property lookup,
// which walks all of a widget's properties by name.
// Qt's own button reports no action while it is disabled, and so no key: a reader that asks
// what Comp. Reset does before a comparison learns nothing. This one reports its press and its
// key in every state; pressed while disabled it does nothing, as a click does.
class KeyedButton : public QAccessibleWidget {
public:
    explicit KeyedButton(QPushButton *button) : QAccessibleWidget(button, QAccessible::PushButton)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Accelerator ? Key() : QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = Button()->isDown();
        state.defaultButton = Button()->isDefault();
        return state;
    }

    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }

    void doAction(const QString &action) override
    {
        if (action != pressAction())
            QAccessibleWidget::doAction(action);
        else if (Button()->isEnabled())
            Button()->animateClick();
    }

    QStringList keyBindingsForAction(const QString &action) const override
    {
        return action == pressAction() ? QStringList(Key()) : QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    QPushButton *Button() const { return static_cast<QPushButton *>(widget()); }
    QString Key() const { return Button()->shortcut().toString(QKeySequence::PortableText); }
};

QAccessibleInterface *WidgetInItsRole(const QString &, QObject *object)
{
    const QMetaObject *own = object->metaObject();
    if (own == &QPushButton::staticMetaObject) {
        auto *button = static_cast<QPushButton *>(object);
        // the window's own buttons; the dialogs keep Qt's
        return qobject_cast<TBK_ControlMain *>(button->window()) != nullptr ? new KeyedButton(button) : nullptr;
    }
    if (own == &QLineEdit::staticMetaObject) {
        auto *field = static_cast<QLineEdit *>(object);
        // the window's entry fields, its only line edits
        return qobject_cast<TBK_ControlMain *>(field->window()) != nullptr ? EntryFieldInterface(field) : nullptr;
    }
    if (own != &QFrame::staticMetaObject && own != &QWidget::staticMetaObject &&
        own != &TBK_ControlMain::staticMetaObject)
        return nullptr;
    const QVariant role = object->property(AccessibleRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Role(role.toInt()));
}

// Qt 6.8 and later tell a reader the words themselves, as an announcement of the window that
// the reader speaks at once. Before 6.8 the words are shown as the name of a notification,
// which a reader speaks as it appears.
void ShowNotice(QWidget *notice, const QString &words)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent announcement(notice->window(), words);
    QAccessible::updateAccessibility(&announcement);
#else
    notice->hide();
    notice->setAccessibleName(words);
    notice->show();
#endif
}

}  // namespace

namespace window_parts {

void InstallAccessibleRoles()
{
    QAccessible::installFactory(WidgetInItsRole);
}

void SetAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    widget->setProperty(AccessibleRoleProperty, int(role));
}

// A reader does not say a button's key unless asked, and three of the window's buttons are no
// Tab stops: the key leads the description, which a reader says when the button is reached.
void Describe(QWidget *widget, const QString &name, const QString &description)
{
    widget->setAccessibleName(name);
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    const QString key = button != nullptr ? button->shortcut().toString(QKeySequence::NativeText) : QString();
    widget->setAccessibleDescription(key.isEmpty() ? description : key + QStringLiteral(". ") + description);
}

QString ListHint()
{
    return QStringLiteral("Ctrl+1 to Ctrl+6 sort by a column; Alt+F prints, Alt+M twice compares, Alt+R ends a comparison");
}


}  // namespace window_parts

void TBK_ControlMain::DescribeResult(QLabel *label, const QString &name, const QString &description)
{
    resultLabels.push_back({label, name});
    label->setAccessibleDescription(description);
    SetLabelText(label, label->text());
}

// A screen reader reads a label's accessible name instead of its text, so a result label's name
// carries the value as well as what the value is. Qt reports every name set, changed or not, and a
// keystroke that leaves a result as it was must not make a reader hear of it.
void TBK_ControlMain::SetLabelText(QLabel *label, const QString &text)
{
    label->setText(text);
    const auto result = std::find_if(resultLabels.begin(), resultLabels.end(),
                                     [label](const ResultLabel &known) { return known.label == label; });
    if (result == resultLabels.end())
        return;
    const QString value = text.trimmed();
    const QString name = value.isEmpty() ? result->name : result->name + QStringLiteral(": ") + value;
    if (label->accessibleName() != name)
        label->setAccessibleName(name);
}

// A reader stays with the field being typed into and leaves the result labels alone; what Qt
// 6.4 tells of a changed name or description, the object instead of its new text, a reader
// cannot speak at all. What a reader does speak is a notification as it is shown. So what the
// player is to hear without anything changing on screen (the result once the typing pauses, a
// sort, a command's outcome, the totals) is shown as one sentence in a notification of no
// size. It belongs to the window, not to the entry panel, so that the panel's return after the
// warning does not show it again.
void TBK_ControlMain::BuildResultNotice()
{
    // In a status bar, a reader says a notification's words without the word "notification".
    QWidget *bar = MakeControl<QWidget>(this, "StatusNotices", QRect(184, 209, 0, 0));
    SetAccessibleRole(bar, QAccessible::StatusBar);
    NoticeResult = MakeControl<QWidget>(bar, "NoticeResult", QRect(0, 0, 0, 0));
    SetAccessibleRole(NoticeResult, QAccessible::Notification);
    NoticeResult->hide();  // until there is something to say
    TimerResultPause = new QTimer(this);
    TimerResultPause->setObjectName(QStringLiteral("TimerResultPause"));
    TimerResultPause->setSingleShot(true);
    TimerResultPause->setInterval(ResultPauseMilliseconds);
    connect(TimerResultPause, &QTimer::timeout, this, Guarded([this] { TimerResultPauseTimer(); }));
}

// The totals lie outside the Tab order, under the list: one key says them from anywhere. Made
// after the first frame, which does not need it.
void TBK_ControlMain::BuildTotalsKey()
{
    auto *sayTotals = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(sayTotals, &QShortcut::activated, this, Guarded([this] { AnnounceTotals(); }));
}

// The result as a reader says it: "DP lost 36, rank AA, 94.52 percent"; nothing before a chart
// is chosen.
QString TBK_ControlMain::ResultSentence() const
{
    const QString dpLost = LabelDPMissResult->text();
    if (dpLost.isEmpty())
        return QString();
    QString percent = LabelPercResult->text();
    if (percent.endsWith(u'%'))
        percent.chop(1);
    return QStringLiteral("DP lost %1, rank %2, %3 percent").arg(dpLost, LabelRankResult->text(), percent);
}

// Every sentence the player hears without a change on screen goes through here; with no reader
// listening there is no one to tell.
void TBK_ControlMain::Announce(const QString &sentence)
{
    if (!QAccessible::isActive())
        return;
    ShowNotice(NoticeResult, sentence);
}

// The current row as a reader reads it when it moves onto the row.
QString TBK_ControlMain::CurrentRowSentence() const
{
    const QModelIndex current = ListViewScores->currentIndex();
    QStringList cells;
    for (int column = 0; current.isValid() && column < ListColumnCount; ++column)
        cells << current.siblingAtColumn(column).data(Qt::AccessibleTextRole).toString();
    return cells.join(QStringLiteral(", "));
}

// Both lines of the totals, as they show, without the runs of blanks between their parts.
void TBK_ControlMain::AnnounceTotals()
{
    Announce(QStringLiteral("%1. %2").arg(LabelTotalRanks->text().simplified(), LabelTotalDP->text().simplified()));
}

void TBK_ControlMain::AnnounceResultAfterPause()
{
    TimerResultPause->start();
}

// A chosen row is read out with its DP lost, rank and percentage, so its result is not said again.
void TBK_ControlMain::ResultHeardWithRow()
{
    TimerResultPause->stop();
    heardResult = ResultSentence();
}

// Said only when it differs from what the player heard last, and never over the warning.
void TBK_ControlMain::TimerResultPauseTimer()
{
    const QString sentence = ResultSentence();
    if (sentence.isEmpty() || sentence == heardResult || !PanelInsert->isVisible())
        return;
    heardResult = sentence;
    Announce(sentence);
}

// Qt reports the focus of the list as a whole, and a reader then names the list but not the row
// the player is on: after an Insert, a Cancel or a Compare, or a Tab into it. Once Qt has reported
// the list, the current row's first cell is reported as focused too, as a move within the list
// reports it, and the reader reads the row. Not while the list still has its hint: on the first
// meeting the reader says the hint, which the row would replace. Nor on a click, which reports
// the row clicked.
//
// On the first meeting the current row follows the hint in the list's description, which Qt
// reports with the focus, before it: the reader says it after the hint, and Where Am I, which
// reads the list's name and description, says it again.
void TBK_ControlMain::ListViewScoresEnter(Qt::FocusReason reason)
{
    if (!QAccessible::isActive() || reason == Qt::MouseFocusReason)
        return;
    if (!listHintTaken) {
        ListViewScores->setAccessibleDescription(ListHint() + QStringLiteral("; current row: ") + CurrentRowSentence());
        return;
    }
    QMetaObject::invokeMethod(this, Guarded([this] { ReportCurrentCellFocused(); }), Qt::QueuedConnection);
}

void TBK_ControlMain::ReportCurrentCellFocused()
{
    const QModelIndex current = ListViewScores->currentIndex();
    if (!ListViewScores->hasFocus() || !current.isValid())
        return;
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(ListViewScores);
    QAccessibleTableInterface *table = list != nullptr ? list->tableInterface() : nullptr;
    QAccessibleInterface *cell = table != nullptr ? table->cellAt(current.row(), 0) : nullptr;
    if (cell == nullptr)
        return;
    QAccessibleEvent focus(ListViewScores, QAccessible::Focus);
    focus.setChild(list->indexOfChild(cell));
    QAccessible::updateAccessibility(&focus);
}

// A reader says the list's description whenever the list gets the focus, and every Insert and
// every Cancel gives it the focus back. The hint is for the first meeting: it goes once the list
// has lost the focus for the first time, and only after the focus has moved on, as a reader
// presents a change of the focused object's description and cannot read what Qt 6.4 sends.
//
// The list's name goes with it. Whenever the focus comes into the list from another control, a
// reader names every container of the row it reaches that has a name of its own, before the row:
// "Charts and scores tree" each time a dialog, the warning or a field gives the focus back. A list
// without a name holds the row as a panel that only lays out, and the row is read first.
void TBK_ControlMain::ListViewScoresExit()
{
    if (listHintTaken)
        return;
    listHintTaken = true;
    QMetaObject::invokeMethod(this, Guarded([this] {
        ListViewScores->setAccessibleDescription(QString());
        ListViewScores->setAccessibleName(QString());
    }), Qt::QueuedConnection);
}

bool TBK_ControlMain::IsEntryField(const QObject *object) const
{
    const EntryFieldList fields = EntryFields();
    return std::find(fields.begin(), fields.end(), object) != fields.end();
}

// A field reached by Tab, Enter or its key selects its number as it takes the focus, and Qt tells
// of the selection before the focus: a reader reads the number once as a selection in a field it
// has not reached, and once more with the field. Selected once the focus has been told, the number
// is read once, with the field; a reader takes the selection it finds with the focus as known.
bool TBK_ControlMain::EntryFieldEnter(QLineEdit *field, Qt::FocusReason reason)
{
    if (!QAccessible::isActive() ||
        (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::ShortcutFocusReason))
        return false;
    QFocusEvent unselecting(QEvent::FocusIn, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(field, &unselecting);
    QMetaObject::invokeMethod(field, [field] {
        if (field->hasFocus() && !field->hasSelectedText())
            field->selectAll();
    }, Qt::QueuedConnection);
    return true;
}
