#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>

#include "lock_holder.h"
#include "play_history.h"
#include "window_fixture.h"

// The play journal as the player meets it: the line each Insert appends, lines kept while
// Plays.csv cannot take them, the last Insert undone, the list exported, and the list's menu.
class TestWindowJournal : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }
    QList<QPair<int, int>> asked_;  // what the close question counted: scores, plays

    static QString Today(const char *format) { return QDate::currentDate().toString(QString::fromLatin1(format)); }
    static QByteArray Record(const char *title, const QString &date, int dp)
    {
        return ScoreRecord(title, date.toLatin1(), dp);
    }
    void Key(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        widget->setFocus();
        QTest::keyClick(widget, key, modifiers);
    }
    // The journal's rows without the header, each as time, title, the five counts, dp_lost,
    // percent, rank, replaced_dp_lost, replaced_date, kind.
    static QList<QStringList> Plays() { return WindowFixture::JournalRows().mid(1); }
    static QStringList Fields(const QStringList &row) { return row.mid(1); }

private slots:
    void init()
    {
        fixture_ = std::make_unique<WindowFixture>();
        asked_.clear();
        TBK_ControlMain::SetUnsavedScoresQuestion([this](int scores, int plays) {
            asked_ << qMakePair(scores, plays);
            return TBK_ControlMain::UnsavedScoresAnswer::Discard;
        });
    }
    void cleanup()
    {
        TBK_ControlMain::SetExportFileChooser(nullptr);
        fixture_.reset();
    }

    // One line for each Insert that stores, none for one cancelled at the warning, and the score
    // each replaced, so that it could be put back.
    void insertAppendsOneLineAStoredResult()
    {
        f().Open();
        QVERIFY(f().dir().entries().isEmpty());  // the start reads and writes no journal
        f().ClickRow("1000 Paper Cranes");
        for (auto [field, text] : {std::pair{"MemoGreat", "3"}, {"MemoGood", "01"}, {"MemoMiss", "2"}, {"MemoOK", "5"}})
            f().Type(field, QString::fromLatin1(text));
        const QStringList shown = {f().LabelText("LabelDPMissResult"), f().LabelText("LabelPercResult").chopped(1),
                                   f().LabelText("LabelRankResult")};
        f().Click("ButtonInsert");
        QList<QStringList> plays = Plays();
        QCOMPARE(plays.size(), 1);
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$").match(plays[0][0]).hasMatch(),
                 qPrintable(plays[0][0]));
        QCOMPARE(Fields(plays[0]), QStringList({"1000 Paper Cranes", "3", "1", "0", "2", "5"}) + shown +
                                       QStringList({"834", "0000-00-00", "play"}));

        f().Type("MemoGreat", "40");
        f().Click("ButtonInsert");
        QVERIFY(f().WarningShown());
        f().Click("ButtonWarningNO");
        QCOMPARE(Plays().size(), 1);
        f().Click("ButtonInsert");
        f().Click("ButtonWarningOK");
        plays = Plays();
        QCOMPARE(plays.size(), 2);
        QCOMPARE(plays[1].mid(2, 5), QStringList({"40", "1", "0", "2", "6"}));
        QCOMPARE(plays[1].mid(10), QStringList({shown[0], Today("yyyy-MM-dd"), "play"}));
        QVERIFY2(f().errors.isEmpty(), qPrintable(f().errors.join(u'|')));
    }

    // A worse result confirmed by mistake, then Ctrl+Z on the list: the best is back in
    // Scores.txt with its date, and the journal says so.
    void undoPutsBackTheReplacedScore()
    {
        QVERIFY(WriteBytes(ScoreFileName, Record("ABSOLUTE", "01/02/2006", 10)));
        f().Open();
        Key(f().List(), Qt::Key_Z);
        QCOMPARE(f().errors, QStringList({"There is no Insert to undo: this window has stored none since it opened."}));
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGreat", "20");
        f().Click("ButtonInsert");
        f().Click("ButtonWarningOK");
        QVERIFY(ReadText(ScoreFileName).contains(Record("ABSOLUTE", Today("dd/MM/yyyy"), 20)));
        Key(f().Field("MemoGreat"), Qt::Key_Z);  // the field's own undo of its text
        QVERIFY(ReadText(ScoreFileName).contains(Record("ABSOLUTE", Today("dd/MM/yyyy"), 20)));

        f().errors.clear();
        f().ClickRow("1998");  // the undo goes to its own chart, wherever the list stands
        Key(f().List(), Qt::Key_Z);
        QVERIFY(f().errors.isEmpty());
        QVERIFY(ReadText(ScoreFileName).contains(Record("ABSOLUTE", "01/02/2006", 10)));
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).mid(1, 5), QStringList({"01/02/2006", "43", "AA", "10", "98.39"}));
        QCOMPARE(f().SelectedTitle(), QStringLiteral("ABSOLUTE"));
        const QList<QStringList> plays = Plays();
        QCOMPARE(plays.size(), 2);
        QCOMPARE(Fields(plays[1]), QStringList({"ABSOLUTE", "", "", "", "", "", "10", "98.39", "AA", "20", Today("yyyy-MM-dd"), "undo"}));
        Key(f().List(), Qt::Key_Z);
        QCOMPARE(f().errors, QStringList({"The last Insert is undone already."}));
        QCOMPARE(Plays().size(), 2);
    }

    // Another window or an editor wrote the chart's score after the Insert: the undo would erase it.
    void undoRefusedWhereTheFileChangedMeanwhile()
    {
        f().Open();
        f().InsertGreats("ABSOLUTE", QStringLiteral("20"));
        QVERIFY(WriteBytes(ScoreFileName, Record("ABSOLUTE", "05/03/2007", 7)));
        Key(f().List(), Qt::Key_Z);
        QCOMPARE(f().errors, QStringList({"The last Insert cannot be undone: ABSOLUTE has another score in Scores.txt now, "
                                          "DP lost 7 of 05/03/2007, written by another window or an editor."}));
        QCOMPARE(ReadText(ScoreFileName), Record("ABSOLUTE", "05/03/2007", 7));
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("7"));
        QCOMPARE(Plays().size(), 1);
    }

    // A play that cannot be appended stays in the window, the close question counts it, and the
    // next Insert writes every kept line once, in order.
    void linesKeptAreWrittenByTheNextInsert_data()
    {
        QTest::addColumn<bool>("locked");  // else Plays.csv is read-only
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("scoresAsked");
        QTest::newRow("lock held by another window")
            << true << QStringLiteral("Scores.txt could not be saved: Another window kept it locked. Plays.csv could not be "
                                      "written either. The 2 plays are kept in the window; the next Insert or closing tries again.")
            << 2;
        QTest::newRow("read-only Plays.csv")
            << false << QStringLiteral("Plays.csv could not be written: Permission denied. The 2 plays are kept in the "
                                       "window; the next Insert or closing tries again.")
            << 0;
    }

    void linesKeptAreWrittenByTheNextInsert()
    {
        QFETCH(bool, locked);
        QFETCH(QString, message);
        QFETCH(int, scoresAsked);
        f().Open();
        {
            std::unique_ptr<LockHolder> holder;
            if (locked) {
                holder = std::make_unique<LockHolder>(f().dir().path());
                QCOMPARE(holder->Answer(), QByteArray("held"));
            } else {
                QVERIFY(WriteBytes("Plays.csv", QByteArray()) && chmod("Plays.csv", 0444) == 0);
            }
            f().InsertGreats("ABSOLUTE", QStringLiteral("8"));
            f().InsertGreats("1998", QStringLiteral("3"));
            QCOMPARE(f().errors.last(), message);
            QVERIFY(Plays().isEmpty());
            TBK_ControlMain::SetUnsavedScoresQuestion([this](int scores, int plays) {
                asked_ << qMakePair(scores, plays);
                return TBK_ControlMain::UnsavedScoresAnswer::Cancel;
            });
            QVERIFY(!f().window().close());
        }
        QVERIFY(chmod("Plays.csv", 0644) == 0 || locked);
        f().errors.clear();
        f().InsertGreats(".59", QStringLiteral("4"));
        QVERIFY(f().errors.isEmpty());
        QStringList written;
        for (const QStringList &play : Plays())
            written << play.value(1) + u' ' + play.value(7);
        QCOMPARE(written, QStringList({"ABSOLUTE 8", "1998 3", ".59 4"}));
        QVERIFY(f().window().close());  // nothing left to ask about
        QCOMPARE(asked_, (QList<QPair<int, int>>{{scoresAsked, 2}}));
    }

    // A named pipe is never opened: no Insert hangs on it or writes into it, and why is said
    // once; the close question still counts the plays.
    void namedPipeIsNeverOpenedAndSaidOnce()
    {
        QVERIFY(mkfifo("Plays.csv", 0600) == 0);
        const int reader = open("Plays.csv", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        f().Open();
        f().InsertGreats("ABSOLUTE", QStringLiteral("8"));
        f().InsertGreats("1998", QStringLiteral("3"));
        Key(f().List(), Qt::Key_H);
        QCOMPARE(f().errors, QStringList({"Plays.csv is not written: Is a named pipe. Only a regular file of a journal's "
                                          "size is read or written; plays are kept in the window meanwhile, and this is "
                                          "not said again."}));
        char byte = 0;
        QCOMPARE(read(reader, &byte, 1), ssize_t(0));  // no writer ever came
        close(reader);
        QVERIFY(ReadText(ScoreFileName).contains("\n3\n"));
        QVERIFY(f().window().close());
        QCOMPARE(asked_, (QList<QPair<int, int>>{{0, 2}}));
    }

    // A journal that cannot be read is said once, after the history has opened on what was read
    // before (nothing here), and keeps no export from being written.
    void journalNotReadIsSaidOnceAfterTheHistoryShows()
    {
        QVERIFY(mkfifo("Plays.csv", 0600) == 0);
        f().Open();
        Key(f().List(), Qt::Key_H);
        auto *history = f().window().findChild<PlayHistoryDialog *>();
        QVERIFY(history != nullptr && history->isVisible());
        QCOMPARE(f().errors, QStringList({"Plays.csv was not read: Is a named pipe."}));
        history->close();
        TBK_ControlMain::SetExportFileChooser([&](QFileDialog &, QString &fileName) {
            fileName = f().dir().filePath("list.csv");
            return true;
        });
        Key(f().List(), Qt::Key_E);
        QCOMPARE(WindowFixture::CsvRows("list.csv").size(), ChartCount + 1);
        QCOMPARE(f().errors.size(), 1);
    }

    // The list in its order, read back as a spreadsheet would, a title with a comma and quotes
    // in one field.
    void exportWritesTheListInItsOrder()
    {
        std::strcpy(Chart("ABSOLUTE").name, "ABSOLUTE, \"live\"");
        f().Open();
        f().InsertGreats("ABSOLUTE, \"live\"", QStringLiteral("8"));
        f().InsertGreats("ABSOLUTE, \"live\"", QStringLiteral("6"));
        f().ClickHeader(4);  // by DP lost
        QStringList dialogs;
        TBK_ControlMain::SetExportFileChooser([&](QFileDialog &dialog, QString &fileName) {
            dialogs << dialog.objectName() + (dialog.acceptMode() == QFileDialog::AcceptSave ? " save" : " open");
            fileName = f().dir().filePath("list.csv");
            return true;
        });
        Key(f().List(), Qt::Key_E);
        QCOMPARE(dialogs, QStringList({"SaveDialog_Export save"}));
        QVERIFY(f().errors.isEmpty());
        const QList<QStringList> rows = WindowFixture::CsvRows("list.csv");
        QCOMPARE(rows.size(), ChartCount + 1);
        QCOMPARE(rows[0].join(u','), QStringLiteral("title,steps,freezes,max_dp,dp_lost,dp,percent,rank,date,plays"));
        QStringList titles;
        for (const QStringList &row : rows.mid(1))
            titles << row[0];
        QCOMPARE(titles, f().Titles());
        QCOMPARE(rows[1 + f().RowOf("ABSOLUTE, \"live\"")],
                 QStringList({"ABSOLUTE, \"live\"", "311", "0", "622", "6", "616", "99.03", "AA", Today("yyyy-MM-dd"), "2"}));
    }

    // The menu is made on first use; its undo is offered only when there is one, and its keys
    // are the list's.
    void listMenuOffersWhatItCanDo()
    {
        f().Open();
        QVERIFY(f().window().findChild<QMenu *>() == nullptr);
        Key(f().List(), Qt::Key_F10, Qt::ShiftModifier);
        auto *menu = f().Find<QMenu>("MenuScores");
        QTRY_VERIFY(menu->isVisible());
        QStringList shown;
        for (QAction *action : menu->actions())
            shown << action->text() + u' ' + action->shortcut().toString() + (action->isEnabled() ? "" : " off");
        QCOMPARE(shown, QStringList({"&History... Ctrl+H", "&Undo last Insert Ctrl+Z off", "&Export as CSV... Ctrl+E"}));
        menu->hide();
        f().InsertGreats("ABSOLUTE", QStringLiteral("8"));
        const QRect row = f().List()->visualRect(f().Cell(f().RowOf("1998")));
        QContextMenuEvent click(QContextMenuEvent::Mouse, row.center(), f().List()->viewport()->mapToGlobal(row.center()));
        QTest::mouseClick(f().List()->viewport(), Qt::RightButton, Qt::NoModifier, row.center());
        QApplication::sendEvent(f().List()->viewport(), &click);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(f().Find<QAction>("ActionUndo")->isEnabled());
        QCOMPARE(f().CurrentTitle(), QStringLiteral("1998"));  // the row clicked is the menu's
        f().Find<QAction>("ActionHistory")->trigger();
        menu->hide();
        auto *history = f().window().findChild<PlayHistoryDialog *>();
        QVERIFY(history != nullptr && history->isVisible());
        f().Find<QAction>("ActionUndo")->trigger();
        QVERIFY(f().errors.isEmpty());
        QCOMPARE(Plays().last().last(), QStringLiteral("undo"));
    }
};

QTEST_MAIN(TestWindowJournal)
#include "tst_window_journal.moc"
