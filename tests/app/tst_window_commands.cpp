#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/private/qsessionmanager_p.h>
#include <qpa/qplatformsessionmanager.h>

#include "window_fixture.h"
#include "window_parts.h"

namespace {

// Qt exports no type information for its private session class, which the sanitizer's check of
// the cast would need.
__attribute__((no_sanitize("undefined"))) QPlatformSessionManager **PlatformSessionSlot()
{
    QObjectPrivate *session = QObjectPrivate::get(QGuiApplicationPrivate::instance()->session_manager);
    return &static_cast<QSessionManagerPrivate *>(session)->platformSessionManager;
}

// The desktop session's side of a logout, in place of the platform's while it lives.
class SessionManager : public QPlatformSessionManager {
public:
    explicit SessionManager(bool mayAsk)
        : QPlatformSessionManager(QString(), QString()), mayAsk_(mayAsk), slot_(PlatformSessionSlot())
    {
        platforms_ = std::exchange(*slot_, this);
    }
    ~SessionManager() override { *slot_ = platforms_; }
    bool allowsInteraction() override { return mayAsk_; }
    void cancel() override { cancelled = true; }
    bool cancelled = false;

private:
    bool mayAsk_;
    QPlatformSessionManager **slot_;
    QPlatformSessionManager *platforms_;
};

}  // namespace

class TestWindowCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }
    QStringList chooserCalls_;
    QTemporaryDir configuration_;  // the player's configuration folder, this test's own

    // The dialog is answered in place of the player; an empty name means Cancel.
    void AnswerDialogWith(const QString &fileName)
    {
        TBK_ControlMain::SetComparisonFileChooser([this, fileName](QFileDialog &dialog, QString &chosen) {
            chooserCalls_ << dialog.objectName();
            chosen = fileName;
            return !fileName.isEmpty();
        });
    }

    void Compare(const QString &fileName)
    {
        AnswerDialogWith(fileName);
        f().Click("ButtonCompare");
    }

    QString LastCaption() { return f().Caption(5); }
    QPoint CentreOf(const char *control) { return f().Find<QWidget>(control)->geometry().center(); }
    QString LastCell(const char *title) { return f().RowTexts(f().RowOf(title)).at(5); }

private slots:
    // Before the toolkit first looks for its configuration, which it does once a process.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration_.path())); }

    void init()
    {
        fixture_ = std::make_unique<WindowFixture>();
        chooserCalls_.clear();
    }
    void cleanup() { fixture_.reset(); }

    void compareWithTheOwnFile()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Click("ButtonInsert");  // writes all 256 charts
        f().ClickRow(".59");
        f().ClickHeader(4);
        const QStringList order = f().Titles();
        Compare(f().dir().filePath("Scores.txt"));

        QCOMPARE(chooserCalls_, QStringList({"OpenDialog_Enemy"}));
        QCOMPARE(LastCaption(), QStringLiteral("Diff."));
        QCOMPARE(f().Titles(), order);  // not re-sorted
        for (int row = 0; row < 256; ++row)
            QCOMPARE(f().RowTexts(row).at(5), QStringLiteral("    0"));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Won: 0   Lost: 0   Drawn: 256"));
        QCOMPARE(f().LabelText("LabelTotalDP"), QStringLiteral("( Total DP Won: 0   Total DP Lost: 0   Difference: 0 )"));
        QVERIFY(f().Button("ButtonCompareReset")->isEnabled());
        QCOMPARE(f().SelectedTitle(), QStringLiteral(".59"));
    }

    // The real dialog, answered as a player does: the name typed, and Enter while the name
    // completion still shows. What the player meets next must act at once.
    void comparisonDialogLeavesNothingBehind()
    {
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        TBK_ControlMain &window = f().Open();
        bool completionShown = false;
        bool completionOutlivedDialog = true;
        QTimer player;
        player.setInterval(10);
        connect(&player, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;  // not shown yet
            player.stop();
            if (!QTest::qWaitForWindowActive(dialog))
                return;
            dialog->setDirectory(f().dir().path());  // an earlier dialog in this process may have left another
            auto *files = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
            if (!QTest::qWaitFor([&] { return files->model()->rowCount(files->rootIndex()) > 0; }))
                return;  // the folder is read in the background
            auto *completer = dialog->findChild<QCompleter *>();
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setFocus();
            name->clear();
            const QString wanted = QStringLiteral("friend.txt");
            for (qsizetype typed = 0; typed < wanted.size() && name->text() != wanted; ++typed)
                QTest::keyClick(name, wanted[typed].toLatin1());  // the dialog may fill in the rest itself
            completionShown = QTest::qWaitFor([&] { return completer->popup()->isVisible(); });
            connect(dialog->windowHandle(), &QWindow::visibleChanged, dialog, [&, completer](bool visible) {
                if (!visible)
                    completionOutlivedDialog = completer->popup()->isVisible();
            });
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);  // the window system routes it as it would
        });
        QTimer guard;  // no modal box is ever left waiting
        guard.setInterval(5000);
        connect(&guard, &QTimer::timeout, [] {
            if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                modal->reject();
        });
        player.start();
        guard.start();
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, CentreOf("ButtonCompare"));
        player.stop();
        guard.stop();

        QVERIFY(completionShown);
        QVERIFY(!completionOutlivedDialog);  // its keyboard grab ends while the dialog still has the focus
        QCOMPARE(LastCaption(), QStringLiteral("Diff."));
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        for (QWidget *shown : QApplication::topLevelWidgets())
            QVERIFY2(shown == &window || !shown->isVisible(), shown->metaObject()->className());
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoGreat"));
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, CentreOf("ButtonCompareReset"));
        QCOMPARE(LastCaption(), QStringLiteral("%"));

        // the dialog's history and last folder go into no file of the player's
        const QString settings = QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName();
        QCOMPARE(settings, configuration_.filePath(QStringLiteral("QtProject.conf")));
        f().Close();
        QVERIFY(QDir(configuration_.path()).isEmpty());
        QCOMPARE(QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName(), settings);  // put back
    }

    void partialFileComparesTheRestAgainstZero()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10) + ScoreRecord("1998", "06/09/2005", 30)));
        QVERIFY(WriteBytes("rival.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17) + ScoreRecord("1998", "01/01/2006", 23)));
        f().Open();
        Compare("rival.txt");
        QCOMPARE(LastCell("ABSOLUTE"), QStringLiteral("   -7"));
        QCOMPARE(LastCell("1998"), QStringLiteral("   +7"));
        QCOMPARE(f().Cell(f().RowOf("1998"), 5).data(Qt::AccessibleTextRole).toString(), QStringLiteral("difference +7"));
        QCOMPARE(LastCell(".59"), QStringLiteral(" +550"));  // unscored against no value
        QCOMPARE(LastCell("MAXX UNLIMITED"), QStringLiteral("+1446"));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Won: 1   Lost: 255   Drawn: 0"));
        QVERIFY(f().LabelText("LabelTotalDP").startsWith(QStringLiteral("( Total DP Won: 7   Total DP Lost: ")));

        f().ClickHeader(5);  // the difference, largest first
        QCOMPARE(f().Titles().first(), QStringLiteral("MAXX UNLIMITED"));
        QCOMPARE(f().Titles().last(), QStringLiteral("ABSOLUTE"));
    }

    // B lies in a folder named with a letter the Western ANSI code page lacks; its best fit there
    // is the folder beside it, whose file says otherwise.
    void secondFileOverwritesOnlyTheChartsItNames()
    {
        QVERIFY(WriteBytes("a.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17) + ScoreRecord("1998", "01/01/2006", 23)));
        QVERIFY(QDir().mkdir(QStringLiteral("bestfit_O")) && QDir().mkdir(QStringLiteral("bestfit_\u03a9")));
        QVERIFY(WriteBytes("bestfit_O/b.txt", ScoreRecord("1998", "01/01/2006", 1)));
        QVERIFY(WriteBytes(QStringLiteral("bestfit_\u03a9/b.txt"), ScoreRecord("1998", "01/01/2006", 600)));
        f().Open();
        Compare("a.txt");
        f().Click("ButtonCompareReset");
        QCOMPARE(LastCaption(), QStringLiteral("%"));
        QCOMPARE(LastCell("ABSOLUTE"), QStringLiteral("00.00"));
        QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: E:256   "));

        Compare(f().dir().filePath(QStringLiteral("bestfit_\u03a9/b.txt")));
        QCOMPARE(LastCell("ABSOLUTE"), QStringLiteral(" +605"));  // 622 against A's 17
        QCOMPARE(LastCell("1998"), QStringLiteral("  +58"));     // 658 against B's 600
    }

    void cancelledOrUnmatchedComparisonChangesNothing()
    {
        QVERIFY(WriteBytes("nothing.txt", ScoreRecord("No Such Song", "01/01/2006", 1)));
        QVERIFY(WriteBytes("empty.txt", QByteArray()));
        f().Open();
        const QString totals = f().LabelText("LabelTotalDP");
        for (const QString &file : {QString(), QStringLiteral("nothing.txt"), QStringLiteral("empty.txt"), QStringLiteral("missing.txt")}) {
            Compare(file);
            QCOMPARE(LastCaption(), QStringLiteral("%"));
            QCOMPARE(f().LabelText("LabelTotalDP"), totals);
            QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());
        }
        QCOMPARE(chooserCalls_.size(), 4);
        QVERIFY(f().errors.isEmpty());

        // in comparison mode a failed second file keeps the mode and the earlier values
        QVERIFY(WriteBytes("a.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        Compare("a.txt");
        Compare("nothing.txt");
        QCOMPARE(LastCaption(), QStringLiteral("Diff."));
        QCOMPARE(LastCell("ABSOLUTE"), QStringLiteral(" +605"));
        QVERIFY(f().Button("ButtonCompareReset")->isEnabled());
    }

    void resetKeepsTheDifferenceOrderUntilTheNextClick()
    {
        QVERIFY(WriteBytes("a.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 600)));
        f().Open();
        Compare("a.txt");
        f().ClickHeader(5);
        const QStringList byDifference = f().Titles();
        QCOMPARE(byDifference.last(), QStringLiteral("ABSOLUTE"));  // 622 - 600 is the smallest
        f().Click("ButtonCompareReset");
        QCOMPARE(f().Titles(), byDifference);
        f().ClickHeader(5);  // now the percentage key, first click: highest first, by title
        QCOMPARE(f().Titles().first(), QStringLiteral(".59"));
    }

    void insertInComparisonModeRefreshesTheTallies()
    {
        QVERIFY(WriteBytes("a.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 20)));
        f().Open();
        Compare("a.txt");
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGreat", "5");
        f().Click("ButtonInsert");
        QCOMPARE(LastCell("ABSOLUTE"), QStringLiteral("  -15"));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Won: 1   Lost: 255   Drawn: 0"));
    }

    void filePrintUsesDisplayOrderAndOwnValues()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        QVERIFY(WriteBytes("a.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 600)));
        f().Open();
        f().ClickHeader(4);
        f().Click("ButtonFilePrint");
        const QByteArray normal = ReadText("OutPrint.txt");
        QCOMPARE(normal.count('\n'), 256);
        QVERIFY(normal.startsWith("|ABSOLUTE                                |43| AA|  10|98.39%|\n"));

        Compare("a.txt");
        QVERIFY(QFile::remove("OutPrint.txt"));
        f().Click("ButtonFilePrint");
        QCOMPARE(ReadText("OutPrint.txt"), normal);
        f().Click("ButtonCompareReset");
        f().Click("ButtonFilePrint");
        QCOMPARE(ReadText("OutPrint.txt"), normal);
        QCOMPARE(LastCaption(), QStringLiteral("%"));

        // a listing that could not be written says so
        QVERIFY(QFile::remove("OutPrint.txt") && QDir().mkdir("OutPrint.txt"));
        f().Click("ButtonFilePrint");
        QCOMPARE(f().errors, QStringList({"OutPrint.txt could not be written: Is a directory."}));
    }

    // A score that did not reach the file stays in the window, and closing asks about it.
    void failedSaveIsReportedAndTheScoreStays()
    {
        QList<int> asked;
        auto answer = TBK_ControlMain::UnsavedScoresAnswer::Cancel;
        TBK_ControlMain::SetUnsavedScoresQuestion([&](int unsaved, int) {
            asked << unsaved;
            return answer;
        });
        f().Open();
        QVERIFY(QDir().mkdir("Scores.txt"));  // nothing can replace a directory
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGreat", "10");
        f().Click("ButtonInsert");
        const QString failure = QStringLiteral("Scores.txt could not be saved: Is a directory.");
        QCOMPARE(f().errors, QStringList({failure}));
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("10"));
        QCOMPARE(f().SelectedTitle(), QStringLiteral("ABSOLUTE"));
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: AA:1   E:255   "));

        QVERIFY(!f().window().close());
        answer = TBK_ControlMain::UnsavedScoresAnswer::SaveAgain;  // and it fails once more
        QVERIFY(!f().window().close());
        QCOMPARE(asked, QList<int>({1, 1}));
        QCOMPARE(f().errors, QStringList({failure, failure}));
        QVERIFY(f().window().isVisible());
        f().errors.clear();

        QVERIFY(QDir().rmdir("Scores.txt"));
        f().ClickRow("1998");
        f().Type("MemoGreat", "0");
        f().Type("MemoOK", "6");
        f().Click("ButtonInsert");
        QVERIFY(f().errors.isEmpty());
        const QByteArray saved = ReadText("Scores.txt");
        QVERIFY(saved.contains("\nABSOLUTE\n"));
        QVERIFY(saved.contains("\n10\n"));
        QVERIFY(saved.contains("\n1998\n"));
        QCOMPARE(f().dir().entries(), QStringList({"Plays.csv", "Scores.txt"}));
        // with every score saved, closing asks nothing and writes nothing
        QVERIFY(f().window().close());
        QCOMPARE(asked.size(), 2);
        QCOMPARE(ReadText("Scores.txt"), saved);
    }

    // Closing the window, or the desktop session ending (a logout, which only some sessions let a
    // program ask about), with a score that is not in Scores.txt.
    void closingCanSaveAgainOrDiscard_data()
    {
        using Answer = TBK_ControlMain::UnsavedScoresAnswer;
        QTest::addColumn<int>("ending");  // 0 the window closes; 1 a logout that may ask; 2 one that may not
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("saved");
        QTest::newRow("close, save again") << 0 << Answer::SaveAgain << true;
        QTest::newRow("close, discard") << 0 << Answer::Discard << false;
        QTest::newRow("logout, save again") << 1 << Answer::SaveAgain << true;
        QTest::newRow("logout, Cancel cancels the logout") << 1 << Answer::Cancel << false;
        QTest::newRow("logout that may not ask saves quietly") << 2 << Answer::Cancel << true;
    }

    void closingCanSaveAgainOrDiscard()
    {
        QFETCH(int, ending);
        QFETCH(TBK_ControlMain::UnsavedScoresAnswer, answer);
        QFETCH(bool, saved);
        int asked = 0;
        QList<QWidget *> over;  // the window the question would open over
        TBK_ControlMain::SetUnsavedScoresQuestion([&](int, int) {
            ++asked;
            over << window_parts::BoxParent();
            QDir().rmdir("Scores.txt");  // the player makes room while the question shows
            return answer;
        });
        f().Open();
        QVERIFY(QDir().mkdir("Scores.txt"));
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        if (ending == 0) {
            QVERIFY(f().window().close());
        } else {
            if (ending == 2)
                QVERIFY(QDir().rmdir("Scores.txt"));
            // A logout comes from outside the window. Qt 6.5 deprecates this call, and its
            // replacement does not exist on 6.4.
            QT_WARNING_PUSH
            QT_WARNING_DISABLE_DEPRECATED
            QApplication::setActiveWindow(nullptr);
            QT_WARNING_POP
            SessionManager session(ending == 1);
            QGuiApplicationPrivate::instance()->commitData();
            QCOMPARE(session.cancelled, answer == TBK_ControlMain::UnsavedScoresAnswer::Cancel && ending == 1);
        }
        QCOMPARE(asked, ending == 2 ? 0 : 1);
        QCOMPARE(over, QList<QWidget *>(asked, &f().window()));
        QCOMPARE(QFile::exists("Scores.txt"), saved);
        if (saved)
            QVERIFY(ReadText("Scores.txt").contains("\nABSOLUTE\n" + QDate::currentDate().toString("dd/MM/yyyy").toLatin1() + "\n10\n"));
    }
};

QTEST_MAIN(TestWindowCommands)
#include "tst_window_commands.moc"
