#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include "reader_fixture.h"

namespace {

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

// What a screen reader is told as the window changes: the notices, the focus, the names and
// descriptions that change, and that every object it is handed stays real.
class TestWindowSpoken : public QObject, public ReaderFixture {
    Q_OBJECT

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
    void initTestCase() { QVERIFY(StartReader()); }
    void init() { StartTest(); }
    void cleanup() { EndTest(); }

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

QTEST_MAIN(TestWindowSpoken)
#include "tst_window_spoken.moc"
