#include <QAccessible>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "window_fixture.h"

namespace {

// What a screen-reader bridge is told, and the objects it is handed: it keeps their ids and
// asks for them again later, when each must still stand for something real.
struct Heard {
    QAccessible::Event type;
    QObject *object;
    QString name;
    QString description;
    QObject *focus;  // where the focus was as it was told
    bool unseen;     // told by a widget in a hidden window
};
QList<Heard> heard;
QList<QAccessible::Id> handedOut;
QStringList logged;

void Hear(QAccessibleEvent *event)
{
    QAccessibleInterface *accessible = event->accessibleInterface();
    if (accessible == nullptr || !accessible->isValid()) {
        logged << QStringLiteral("event %1 for an invalid object").arg(int(event->type()));
        return;
    }
    handedOut << QAccessible::uniqueId(accessible);
    heard << Heard{event->type(), event->object(), accessible->text(QAccessible::Name),
                   accessible->text(QAccessible::Description), QApplication::focusWidget(),
                   event->object()->isWidgetType() && !static_cast<QWidget *>(event->object())->window()->isVisible()};
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (event->type() == QAccessible::Announcement)
        heard.back().name = static_cast<QAccessibleAnnouncementEvent *>(event)->message();
#endif
}

// Words said to a reader: a notification shown, or on Qt 6.8 and later an announcement.
bool IsNotice(const Heard &told, QObject *notice)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (told.type == QAccessible::Announcement)
        return true;
#endif
    return told.type == QAccessible::ObjectShow && told.object == notice;
}

void Log(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logged << message;
}

// A bridge may ask for the window's accessible object at anything the window is told while it
// is being built, its title first of all, and the object keeps the role it was made with.
class RoleWhileBuilt : public QObject {
public:
    QList<QAccessible::Role> roles;
    bool eventFilter(QObject *object, QEvent *) override
    {
        if (qobject_cast<TBK_ControlMain *>(object) != nullptr)
            roles << QAccessible::queryAccessibleInterface(object)->role();
        return false;
    }
};

}  // namespace

// What a screen reader is told: it reads the accessibility interfaces, not the widgets.
class TestWindowAccessibility : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    QAccessibleInterface *Accessible(const char *name)
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(f().Find<QWidget>(name));
        if (accessible == nullptr)
            qFatal("%s has no accessibility interface", name);
        return accessible;
    }

    QString Name(const char *name) { return Accessible(name)->text(QAccessible::Name); }

    // A button's caption, or the caption of the label that names a field, without its mnemonic.
    QString VisibleWords(QWidget *control)
    {
        QString words;
        if (auto *button = qobject_cast<QAbstractButton *>(control))
            words = button->text();
        for (QLabel *label : f().window().findChildren<QLabel *>()) {
            if (label->buddy() == control)
                words = label->text();
        }
        return words.remove(u'&');
    }

    // The words said since the last look, once the typing has paused.
    QStringList NoticesAfterPause()
    {
        auto *pause = f().window().findChild<QTimer *>(QStringLiteral("TimerResultPause"));
        if (!QTest::qWaitFor([pause] { return !pause->isActive(); }))
            return {QStringLiteral("no pause")};
        QStringList notices;
        for (const Heard &told : std::as_const(heard)) {
            if (IsNotice(told, f().Find<QObject>("NoticeResult")))
                notices << told.name;
        }
        heard.clear();
        return notices;
    }

    // The name of what the focus was last reported on: the list, or one of its cells.
    QString LastFocused()
    {
        for (qsizetype i = heard.size(); i > 0; --i)
            if (heard[i - 1].type == QAccessible::Focus)
                return heard[i - 1].name;
        return QString();
    }

    // The controls whose name or description changed since the last look.
    QStringList Changed()
    {
        QStringList changed;
        for (const Heard &told : std::as_const(heard)) {
            if (told.type == QAccessible::NameChanged || told.type == QAccessible::DescriptionChanged)
                changed << told.object->objectName();
        }
        return changed;
    }

    const Heard *Last(QAccessible::Event type, const char *control)
    {
        QObject *object = f().Find<QObject>(control);
        for (qsizetype i = heard.size(); i > 0; --i)
            if (heard[i - 1].type == type && heard[i - 1].object == object)
                return &heard[i - 1];
        return nullptr;
    }

    // Every cell read as a reader walks the table; every object handed out before is either
    // gone or still real. Gives the first thing read wrong.
    QString ListMisread()
    {
        QAccessibleTableInterface *table = Accessible("ListViewScores")->tableInterface();
        if (table->rowCount() != 256)
            return QStringLiteral("%1 rows").arg(table->rowCount());
        for (int row = 0; row < 256; ++row) {
            for (int column = 0; column < 6; ++column) {
                const QString spoken = f().Cell(row, column).data(Qt::AccessibleTextRole).toString();
                QAccessibleInterface *cell = table->cellAt(row, column);
                if (cell == nullptr || !cell->isValid() || cell->text(QAccessible::Name) != spoken)
                    return QStringLiteral("cell %1, %2 is not \"%3\"").arg(row).arg(column).arg(spoken);
                handedOut << QAccessible::uniqueId(cell);
            }
        }
        for (QAccessible::Id id : std::as_const(handedOut)) {
            QAccessibleInterface *accessible = QAccessible::accessibleInterface(id);
            if (accessible != nullptr && !accessible->isValid())
                return QStringLiteral("object %1 is invalid").arg(id);
        }
        return QString();
    }

private slots:
    void initTestCase()
    {
        // What a reader's bridge does when a reader starts; Qt offers no public call for it.
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QVERIFY(QAccessible::isActive());
        QAccessible::installUpdateHandler(Hear);
    }

    void init()
    {
        fixture_ = std::make_unique<WindowFixture>();
        heard.clear();
        handedOut.clear();
        logged.clear();
    }
    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        fixture_.reset();
    }

    // Refills of the list, a typed play and the warning, as a screen reader meets them.
    void readerHearsWhatTheEyeSees()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QStringLiteral("friend.txt");
            return true;
        });
        qInstallMessageHandler(Log);
        RoleWhileBuilt asked;
        qApp->installEventFilter(&asked);
        f().Open();
        qApp->removeEventFilter(&asked);
        QVERIFY(!asked.roles.isEmpty());
        QCOMPARE(asked.roles, QList<QAccessible::Role>(asked.roles.size(), QAccessible::Window));
        f().ClickRow("ABSOLUTE");
        QCOMPARE(ListMisread(), QString());
        f().ClickHeader(4);
        QCOMPARE(ListMisread(), QString());

        f().Type("MemoMiss", "3");
        QCOMPARE(NoticesAfterPause(), QStringList({"sorted by DP lost, ascending", "DP lost 40, rank AA, 93.56 percent"}));
        f().Type("MemoMiss", "");
        f().Click("ButtonInsert");
        QCOMPARE(ListMisread(), QString());
        f().Click("ButtonCompare");
        QCOMPARE(ListMisread(), QString());

        f().Type("MemoMiss", "3");
        f().Click("ButtonInsert");
        const Heard *alert = Last(QAccessible::Alert, "PanelWarning");
        QVERIFY(alert != nullptr);
        QCOMPARE(alert->name, QStringLiteral("Warning"));
        QCOMPARE(alert->description, QStringLiteral("You are inserting a greater amout of DPs than before!!! Continue ?"));
        QCOMPARE(logged, QStringList());
    }

    void namesAndRoles_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<bool>("described");
        QTest::addColumn<QString>("key");  // a button's, as its press reports it and its description begins

        const auto row = [](const char *control, const char *name, QAccessible::Role role, bool described = true,
                            const char *key = "") {
            QTest::newRow(control) << QByteArray(control) << QString::fromLatin1(name) << role << described
                                   << QString::fromLatin1(key);
        };
        row("MemoGreat", "Great count", QAccessible::EditableText);
        row("MemoGood", "Good count", QAccessible::EditableText);
        row("MemoBoo", "Boo count", QAccessible::EditableText);
        row("MemoMiss", "Miss count", QAccessible::EditableText);
        row("MemoOK", "OK freeze count", QAccessible::EditableText);
        // a reader names a field by its label: the label must say no less than the field's name
        row("LabelGreat", "Great count", QAccessible::StaticText, false);
        row("LabelMiss", "Miss count", QAccessible::StaticText, false);
        row("LabelOK", "OK freeze count", QAccessible::StaticText, false);
        row("LabelDPFreeze", "Max DP and freezes: 550 / 0", QAccessible::StaticText);
        row("LabelDPMissResult", "Greats: 550", QAccessible::StaticText);
        row("LabelRankResult", "Rank: E", QAccessible::StaticText);
        row("LabelPercResult", "Percentage: 0.00%", QAccessible::StaticText);
        row("LabelTotalRanks", "Rank: E:256   ", QAccessible::StaticText);
        row("LabelTotalDP", "Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )", QAccessible::StaticText);
        row("ButtonInsert", "Insert, store the score", QAccessible::PushButton, true, "Alt+I");
        row("ButtonFilePrint", "File Print", QAccessible::PushButton, true, "Alt+F");
        row("ButtonCompare", "Compare", QAccessible::PushButton, true, "Alt+M");
        row("ButtonCompareReset", "Comp. Reset, end the comparison", QAccessible::PushButton, true, "Alt+R");  // disabled
        row("ButtonWarningOK", "OK, store the worse score", QAccessible::PushButton, true, "Alt+K");
        row("ButtonWarningNO", "Cancel, keep the stored score", QAccessible::PushButton, true, "Alt+C");
        row("ListViewScores", "Charts and scores", QAccessible::Tree);
        row("ImageBrisko", "Brisko Calculator picture", QAccessible::Graphic);
        row("Bevel1", "", QAccessible::Separator, false);
        row("Bevel2", "", QAccessible::Separator, false);
        // only laying out: a reader reads no panel and its labels as the context of the focus
        row("PanelInsert", "Score entry", QAccessible::Client, false);
        row("PanelTotals", "Totals", QAccessible::Client, false);
        row("PanelWarning", "Warning", QAccessible::AlertMessage);
        row("NoticeResult", "", QAccessible::Notification, false);
        row("StatusNotices", "", QAccessible::StatusBar, false);  // where a notification is said without its role
    }

    void namesAndRoles()
    {
        QFETCH(QByteArray, control);
        QFETCH(QString, name);
        QFETCH(QAccessible::Role, role);
        QFETCH(bool, described);
        QFETCH(QString, key);
        f().Open();
        if (control.contains("Warning"))
            f().ShowWarning();
        QAccessibleInterface *accessible = Accessible(control.constData());
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QCOMPARE(accessible->role(), role);
        QCOMPARE(!accessible->text(QAccessible::Description).isEmpty(), described);
        if (key.isEmpty())
            return;
        QAccessibleActionInterface *actions = accessible->actionInterface();
        QVERIFY(actions != nullptr);
        QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
        QCOMPARE(actions->keyBindingsForAction(QAccessibleActionInterface::pressAction()), QStringList(key));
        QVERIFY(accessible->text(QAccessible::Description).startsWith(key + QStringLiteral(". ")));
    }

    void everyControlIsNamedAndDescribed()
    {
        f().Open();
        f().ShowWarning();
        QList<QWidget *> controls;
        for (QWidget *widget : f().window().findChildren<QWidget *>()) {
            if (widget->window() != &f().window())
                continue;  // the comparison dialog is a window of its own
            if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractButton *>(widget) ||
                (qobject_cast<QAbstractItemView *>(widget) && !qobject_cast<QHeaderView *>(widget)))
                controls << widget;
        }
        QCOMPARE(controls.size(), 5 + 6 + 1);
        for (QWidget *control : std::as_const(controls)) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY2(accessible != nullptr, qPrintable(control->objectName()));
            const QString name = accessible->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!accessible->text(QAccessible::Description).isEmpty(), qPrintable(control->objectName()));
            // what is said to press or fill it by voice is what the eye reads on it or beside it
            const QString visible = VisibleWords(control);
            QVERIFY2(visible.isEmpty() || name.startsWith(visible), qPrintable(name + QStringLiteral(" / ") + visible));
        }
    }

    void entryFieldsAreLabelledByTheirCaptions()
    {
        f().Open();
        QAccessibleInterface *field = Accessible("MemoBoo");
        const auto labels = field->relations(QAccessible::Label);  // the caption is the label of the field
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object(), f().Find<QObject>("LabelBoo"));
        QCOMPARE(field->text(QAccessible::Value), QString());
        f().Type("MemoBoo", "2");
        QCOMPARE(field->text(QAccessible::Value), QStringLiteral("2"));
    }

    // A screen reader reads a label's name in place of its text, so the results carry their
    // values in their names and follow every change.
    void resultNamesFollowTheResults()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("Greats: 10"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 98.39%"));
        QCOMPARE(Name("LabelDPFreeze"), QStringLiteral("Max DP and freezes: 622 / 0"));

        f().Type("MemoMiss", "3");
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("Greats: 40"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        f().Type("MemoMiss", "5");
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: A"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 90.35%"));

        f().Type("MemoMiss", "");
        f().Click("ButtonInsert");
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Rank: AA:1   E:255   "));
    }

    void comparisonTotalsAreRead()
    {
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QStringLiteral("friend.txt");
            return true;
        });
        f().Open();
        f().Click("ButtonCompare");
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Won: 0   Lost: 256   Drawn: 0"));
        QVERIFY(Name("LabelTotalDP").startsWith(QStringLiteral("( Total DP Won: 0   Total DP Lost: ")));
    }

    // The result is said once the typing pauses, once for each new result, and a keystroke that
    // changes nothing tells a reader nothing.
    void resultIsSaidOnceTheTypingPauses()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QCOMPARE(NoticesAfterPause(), QStringList());  // the row itself is read with its result

        f().Type("MemoMiss", "3");
        QCOMPARE(Changed(), QStringList({"LabelDPMissResult", "LabelPercResult"}));  // the rank stays AA
        QCOMPARE(NoticesAfterPause(), QStringList({"DP lost 40, rank AA, 93.56 percent"}));

        f().Type("MemoOK", "0");  // ABSOLUTE has no freezes: the result stays
        QCOMPARE(Changed(), QStringList());
        QCOMPARE(NoticesAfterPause(), QStringList());

        f().Type("MemoGood", "12");  // two keystrokes within the pause, one sentence
        QCOMPARE(NoticesAfterPause(), QStringList({"DP lost 64, rank A, 89.71 percent"}));

        f().Type("MemoGood", "");
        f().Click("ButtonInsert");  // worse than the stored 10: the warning speaks, not the result
        QVERIFY(f().WarningShown());
        QCOMPARE(NoticesAfterPause(), QStringList());
    }

    // A reader says the list's description whenever the list gets the focus, and every Insert
    // gives it back: the hint is for the first meeting, and it goes without a word said.
    void listHintIsHeardOnce()
    {
        f().Open();
        QCOMPARE(Accessible("ListViewScores")->text(QAccessible::Description),
                 QStringLiteral("Ctrl+1 to Ctrl+6 sort by a column; Alt+F prints, Alt+M twice compares, Alt+R ends a "
                                "comparison; current row: .59, no score, AA 38, rank E, all DP lost, 0.00 percent"));
        QCoreApplication::processEvents();
        QCOMPARE(LastFocused(), QStringLiteral("Charts and scores"));  // the hint and the row, on the first meeting
        f().ClickRow("ABSOLUTE");
        QVERIFY(f().RowOf("ABSOLUTE") != 0);
        QTest::keyClick(f().window().windowHandle(), Qt::Key_Tab);
        QTRY_VERIFY(Accessible("ListViewScores")->text(QAccessible::Description).isEmpty());
        const Heard *dropped = Last(QAccessible::DescriptionChanged, "ListViewScores");
        QVERIFY(dropped != nullptr);
        QCOMPARE(dropped->focus, f().Find<QObject>("MemoGreat"));  // a reader ignores it there
        f().Click("ButtonInsert");
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QVERIFY(Accessible("ListViewScores")->text(QAccessible::Description).isEmpty());
        QTRY_COMPARE(LastFocused(), QStringLiteral("ABSOLUTE"));  // back in the list, the row is read
        for (int again = 0; again < 2; ++again) {  // and never the hint again, however often it comes back
            heard.clear();
            QTest::keyClick(f().window().windowHandle(), Qt::Key_Tab);
            QTest::keyClick(f().window().windowHandle(), Qt::Key_Backtab);
            QTRY_COMPARE(LastFocused(), QStringLiteral("ABSOLUTE"));
            QCOMPARE(Accessible("ListViewScores")->text(QAccessible::Description), QString());
            // nor its name, which a reader says before the row as the focus comes in from elsewhere
            QCOMPARE(Accessible("ListViewScores")->text(QAccessible::Name), QString());
        }

        // a click into the list is read once, by the row it reports
        QTest::keyClick(f().window().windowHandle(), Qt::Key_Tab);
        heard.clear();
        f().ClickRow("1998");
        QTest::qWait(50);
        QCOMPARE(std::count_if(heard.cbegin(), heard.cend(), [](const Heard &told) {
                     return told.type == QAccessible::Focus && told.name == QStringLiteral("1998");
                 }), 1);
    }

    // What is said without a change on screen: a sentence for each sort, command and the totals.
    void stateIsSpoken()
    {
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        QVERIFY(WriteBytes("none.txt", ScoreRecord("No Such Song", "01/01/2006", 1)));
        QVERIFY(QDir().mkdir("folder"));
        QString chosen;
        QStringList boxTexts;
        TBK_ControlMain::SetComparisonFileChooser([&](QFileDialog &dialog, QString &name) {
            name = chosen;
            if (!chosen.isEmpty())
                return true;
            QMessageBox box(QMessageBox::Warning, dialog.windowTitle(), "*.txt\nFile not found.\nPlease verify the correct file name was given.",
                            QMessageBox::Ok, &dialog);
            box.ensurePolished();  // as it is before it shows
            boxTexts << box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))->accessibleName();
            return false;
        });
        f().Open();
        heard.clear();
        for (Qt::Key key : {Qt::Key_5, Qt::Key_5, Qt::Key_1, Qt::Key_2, Qt::Key_T}) {
            QTest::keyClick(f().List(), key, Qt::ControlModifier);
            if (key == Qt::Key_5)  // the current chart moves, and its row is not read again
                QVERIFY(f().RowOf(".59") != 0 && LastFocused().isEmpty());
        }
        f().Click("ButtonFilePrint");
        for (const char *file : {"none.txt", "folder", "friend.txt", ""}) {
            chosen = QString::fromLatin1(file);
            f().Click("ButtonCompare");
        }
        QTest::keyClick(f().List(), Qt::Key_T, Qt::ControlModifier);
        f().Click("ButtonCompareReset");
        QCOMPARE(NoticesAfterPause(),
                 QStringList({"sorted by DP lost, ascending", "sorted by DP lost, descending", "sorted by title, ascending",
                              "sorted by date, descending", "Rank: E:256. Total DPs: 0 / 189842 ( 0.00% - Miss: 189842 )",
                              "OutPrint.txt written: all 256 charts in the list's order", "none.txt names no chart; nothing compared",
                              "folder could not be read; nothing compared",
                              "Won: 0 Lost: 256 Drawn: 0. ( Total DP Won: 0 Total DP Lost: 189825 Difference: -189825 )",
                              "comparison ended; percentages and ranks shown"}));
        QCOMPARE(boxTexts, QStringList({"*.txt File not found. Please verify the correct file name was given."}));
        QVERIFY(f().errors.isEmpty());
    }

    void listCellsAreReadWithTheirColumns()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QAccessibleTableInterface *table = Accessible("ListViewScores")->tableInterface();
        QVERIFY(table != nullptr);
        QCOMPARE(table->columnCount(), 6);
        QCOMPARE(table->rowCount(), 256);
        const int row = f().RowOf("ABSOLUTE");
        QCOMPARE(table->selectedRows(), QList<int>({row}));
        const QStringList captions = {"Song", "Date", "AA", "Rank", "DP", "%"};
        const QStringList cells = {"ABSOLUTE", "date 06/09/2005", "AA 43", "rank AA", "DP lost 10", "98.39 percent"};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(table->columnDescription(column), captions[column]);
            QAccessibleInterface *cell = table->cellAt(row, column);
            QVERIFY(cell != nullptr);
            QCOMPARE(cell->text(QAccessible::Name), cells[column]);
        }
    }

    // A field's number is reported as one run of text, and the field otherwise answers as the
    // toolkit's own line edit does; the comparison dialog's name field keeps the toolkit's.
    void entryFieldIsReadWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("selectFrom");  // -1: the caret at the end, nothing selected
        QTest::newRow("a prefilled number, selected") << "622" << 0;
        QTest::newRow("a lone 0, selected") << "0" << 0;
        QTest::newRow("part selected") << "12345" << 2;
        QTest::newRow("typed, nothing selected") << "48" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void entryFieldIsReadWhole()
    {
        QFETCH(QString, text);
        QFETCH(int, selectFrom);
        f().Open();
        QLineEdit *field = f().Field("MemoGreat");
        QLineEdit plain;  // the toolkit's, wherever the window's fields are not
        QFont font = field->font();  // as the field's, told explicitly, not only inherited
        font.setFamily(font.family());
        font.setPixelSize(font.pixelSize());
        font.setWeight(font.weight());
        plain.setFont(font);
        plain.setGeometry(QRect(field->mapToGlobal(QPoint()), field->size()));
        plain.show();
        for (QLineEdit *edit : {field, &plain}) {
            edit->setText(text);
            if (selectFrom >= 0)
                edit->setSelection(selectFrom, int(text.size()) - selectFrom);
        }
        QAccessibleTextInterface *ours = QAccessible::queryAccessibleInterface(field)->textInterface();
        QAccessibleTextInterface *toolkits = QAccessible::queryAccessibleInterface(&plain)->textInterface();
        QVERIFY(ours != nullptr && toolkits != nullptr && ours != toolkits);
        const auto answers = [&plain](QAccessibleTextInterface *reading) {
            QStringList said;
            int start = 0, end = 0;
            reading->selection(0, &start, &end);
            said << QStringLiteral("%1 %2 %3 %4 %5").arg(reading->characterCount()).arg(reading->cursorPosition())
                                                   .arg(reading->selectionCount()).arg(start).arg(end);
            // within the text: at its end the toolkit's own word and character search never ends
            for (int offset = 0; offset < std::min(2, int(plain.text().size()) - 1); ++offset) {
                for (auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary}) {
                    said << reading->textAtOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end)
                         << reading->textBeforeOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end)
                         << reading->textAfterOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end);
                }
                const QRect rect = reading->characterRect(offset);
                said << QStringLiteral("%1,%2 %3x%4 at %5").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height())
                                                           .arg(rect.isEmpty() ? -1 : reading->offsetAtPoint(rect.center()));
            }
            return said;
        };
        const QPoint shift = plain.mapToGlobal(QPoint()) - field->mapToGlobal(QPoint());
        QStringList toolkitSaid = answers(toolkits);
        QCOMPARE(shift, QPoint());
        QCOMPARE(answers(ours), toolkitSaid);
        int start = -1, end = -1;
        for (int offset = 0; offset < text.size(); ++offset) {
            ours->attributes(offset, &start, &end);
            QCOMPARE(QPair(start, end), QPair(0, int(text.size())));
            toolkits->attributes(offset, &start, &end);
            QCOMPARE(QPair(start, end), QPair(offset, offset));  // what a reader cuts the number by
        }
        for (int atEnd : {int(text.size()), -2}) {  // where the toolkit's own search never returns
            field->setCursorPosition(int(text.size()));
            QCOMPARE(ours->textAtOffset(atEnd, QAccessible::WordBoundary, &start, &end), text);
            QCOMPARE(QPair(start, end), QPair(0, int(text.size())));
        }
        if (text.size() != 3)
            return;
        QTRY_VERIFY_WITH_TIMEOUT(f().window().findChild<QFileDialog *>() != nullptr, 5000);
        for (QLineEdit *name : f().window().findChild<QFileDialog *>()->findChildren<QLineEdit *>()) {
            name->setText(QStringLiteral("*.txt"));
            QAccessible::queryAccessibleInterface(name)->textInterface()->attributes(1, &start, &end);
            QCOMPARE(QPair(start, end), QPair(1, 1));
        }
    }

    // A field that selects its number as it takes the focus is told focused first: a reader then
    // reads the number once, with the field, not also as a selection somewhere else.
    void fieldFocusIsToldBeforeItsSelection_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("Enter from the list") << int(Qt::Key_Return) << int(Qt::NoModifier) << QByteArray("MemoGreat");
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << QByteArray("MemoGreat");
        QTest::newRow("its key") << int(Qt::Key_O) << int(Qt::AltModifier) << QByteArray("MemoOK");
    }

    void fieldFocusIsToldBeforeItsSelection()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QByteArray, field);
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 622)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        heard.clear();
        QTest::keyClick(f().window().windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(f().Field(field.constData())->hasSelectedText());
        QStringList told;
        for (const Heard &news : std::as_const(heard)) {
            if (news.object == f().Find<QObject>(field.constData()) &&
                (news.type == QAccessible::Focus || news.type == QAccessible::TextSelectionChanged))
                told << (news.type == QAccessible::Focus ? QStringLiteral("focus") : QStringLiteral("selection"));
        }
        QCOMPARE(told.value(0), QStringLiteral("focus"));
        QVERIFY(told.contains(QStringLiteral("selection")));
        QCOMPARE(f().Field(field.constData())->selectedText(), f().Field(field.constData())->text());
    }

    // The comparison dialog is built hidden, in parts, after the first frame: nothing in it may
    // tell a reader it has the focus, or a reader reads the dialog over the window.
    void hiddenDialogTellsNoFocus()
    {
        f().Open();
        QTRY_VERIFY_WITH_TIMEOUT(f().window().findChild<QFileDialog *>() != nullptr, 5000);
        QTest::qWait(1500);  // its remaining parts, one each time the event loop is idle
        for (const Heard &news : std::as_const(heard))
            QVERIFY2(news.type != QAccessible::Focus || !news.unseen, qPrintable(news.name));
    }
};

QTEST_MAIN(TestWindowAccessibility)
#include "tst_window_accessibility.moc"
