#include <QtTest>

#include "non_score_files.h"
#include "score_file_fixture.h"

// How the window's scores meet the file another program changed: the merge, a file read while it
// is still being written, and the save that merges again.
class TestScoreMerge : public ScoreFileRows {
    Q_OBJECT

private slots:
    // ABSOLUTE (maxDp 622) holds windowDp of windowYear in the window, unsaved or not, and
    // Scores.txt last held knownDp of 2005 for it (-1: nothing); the file is given as bytes, or
    // "<none>" for no file and "<dir>" for a refused one.
    void mergeTakesTheFileExceptBetterUnsavedScores_data()
    {
        QTest::addColumn<int>("knownDp");
        QTest::addColumn<int>("windowDp");
        QTest::addColumn<int>("windowYear");
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("mergedDp");
        QTest::addColumn<int>("mergedYear");
        QTest::addColumn<bool>("stillUnsaved");
        const QByteArray other = ScoreRecord(".59", "02/03/2006", 7);
        const auto absolute = [&](int dp, const char *year) {
            return other + ScoreRecord("ABSOLUTE", QByteArray("01/01/") + year, dp);
        };
        QTest::newRow("saved score takes the file's") << -1 << 20 << 2006 << false << absolute(30, "2005") << 30 << 2005 << false;
        QTest::newRow("saved score gone from the file stays, unsaved") << -1 << 20 << 2006 << false << other << 20 << 2006 << true;
        QTest::newRow("unsaved better stays") << -1 << 10 << 2006 << true << absolute(30, "2007") << 10 << 2006 << true;
        QTest::newRow("unsaved worse gives way") << -1 << 40 << 2006 << true << absolute(30, "2005") << 30 << 2005 << false;
        QTest::newRow("unsaved tie, own date later") << -1 << 30 << 2007 << true << absolute(30, "2006") << 30 << 2007 << true;
        QTest::newRow("unsaved tie, file's date later") << -1 << 30 << 2006 << true << absolute(30, "2007") << 30 << 2007 << false;
        QTest::newRow("unsaved already in the file") << -1 << 30 << 2006 << true << absolute(30, "2006") << 30 << 2006 << false;
        QTest::newRow("file's loss above maxDp is all lost") << -1 << 600 << 2006 << true << absolute(9999, "2007") << 600 << 2006 << true;
        QTest::newRow("no file keeps everything") << -1 << 20 << 2006 << false << QByteArray("<none>") << 20 << 2006 << true;
        QTest::newRow("refused file keeps everything") << -1 << 20 << 2006 << true << QByteArray("<dir>") << 20 << 2006 << true;
        QTest::newRow("file naming no chart keeps everything") << -1 << 20 << 2006 << false << QByteArray("") << 20 << 2006 << true;
        QTest::newRow("record without a score keeps the window's")
            << -1 << 20 << 2006 << false << other + ScoreRecord("ABSOLUTE", "00/00/0000", 622) << 20 << 2006 << true;
        QTest::newRow("unsaved worse over the record as last read stays")
            << 30 << 40 << 2006 << true << absolute(30, "2005") << 40 << 2006 << true;
        QTest::newRow("record changed since it was read wins over a saved score")
            << 30 << 30 << 2005 << false << absolute(50, "2007") << 50 << 2007 << false;
    }

    void mergeTakesTheFileExceptBetterUnsavedScores()
    {
        QFETCH(int, knownDp);
        QFETCH(int, windowDp);
        QFETCH(int, windowYear);
        QFETCH(bool, unsaved);
        QFETCH(QByteArray, file);
        QFETCH(int, mergedDp);
        QFETCH(int, mergedYear);
        QFETCH(bool, stillUnsaved);
        if (knownDp >= 0) {
            Score(Chart("ABSOLUTE"), uint16_t(knownDp), 1, 1, 2005);
            QVERIFY(SaveScoreFile());
        }
        Score(Chart("ABSOLUTE"), uint16_t(windowDp), 1, 1, uint16_t(windowYear));
        if (file == "<dir>")
            QVERIFY(MakeNonScoreFile("dir", ScoreFileName));
        else if (file != "<none>")
            QVERIFY(WriteBytes(ScoreFileName, file));
        bool unsavedScores[ChartCount] = {};
        unsavedScores[Chart("ABSOLUTE").index] = unsaved;

        ScoreFileStatus status;
        const bool changed = MergeOwnScoreFile(unsavedScores, status);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), mergedDp);
        QCOMPARE(int(Chart("ABSOLUTE").year), mergedYear);
        QCOMPARE(unsavedScores[Chart("ABSOLUTE").index], stillUnsaved);
        const bool fileRead = file.contains(".59");
        QCOMPARE(int(Chart(".59").dpLost), fileRead ? 7 : 550);
        QCOMPARE(changed, fileRead);  // .59 came from the file, whatever ABSOLUTE did
        QCOMPARE(std::count(std::begin(unsavedScores), std::end(unsavedScores), true), qsizetype(stillUnsaved));
    }

    // The window holds ABSOLUTE at 20, 1998 at 30 and .59 at 40, all saved; the file, given
    // as it is first read and as an editor may have finished it during the pause, says ABSOLUTE
    // 5 and, where whole, 1998 7. -1: no pause, or nothing written during it.
    void cutFileIsReadAgainAfterAPause_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("finished");
        QTest::addColumn<int>("pauses");
        QTest::addColumn<bool>("stillCut");
        QTest::addColumn<QList<int>>("merged");  // ABSOLUTE, 1998, .59
        const QByteArray absolute = ScoreRecord("ABSOLUTE", "01/02/2006", 5);
        const QByteArray whole = absolute + ScoreRecord("1998", "01/02/2006", 7);
        const QByteArray none;
        QTest::newRow("records removed whole keep the window's") << absolute << none << 0 << false << QList<int>{5, 30, 40};
        QTest::newRow("separator without a line end is whole")
            << whole.chopped(1) << none << 0 << false << QList<int>{5, 7, 40};
        QTest::newRow("a final Ctrl+Z, the old end-of-file mark, ends it") << whole + "\x1A" << none << 0 << false << QList<int>{5, 7, 40};
        QTest::newRow("blank lines at the end are whole") << absolute + "\n\r\n" << none << 0 << false << QList<int>{5, 30, 40};
        QTest::newRow("finished during the pause") << absolute + "1998\n01/0" << whole << 1 << false << QList<int>{5, 7, 40};
        QTest::newRow("shrunk during the pause: nothing of the cut read stays")
            << whole + ".59\n01/0" << absolute << 1 << false << QList<int>{5, 30, 40};
        QTest::newRow("still cut in a date: every chart keeps the window's")
            << absolute + "1998\n01/0" << none << 1 << true << QList<int>{20, 30, 40};
        QTest::newRow("still cut in a separator") << whole.chopped(4) << none << 1 << true << QList<int>{20, 30, 40};
        QTest::newRow("still cut in a title") << absolute + "19" << none << 1 << true << QList<int>{20, 30, 40};
    }

    void cutFileIsReadAgainAfterAPause()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, finished);
        QFETCH(int, pauses);
        QFETCH(bool, stillCut);
        QFETCH(QList<int>, merged);
        const char *charts[] = {"ABSOLUTE", "1998", ".59"};
        Score(Chart("ABSOLUTE"), 20);
        Score(Chart("1998"), 30);
        Score(Chart(".59"), 40);
        const auto written = [&] {
            PauseAndClockOfTheTest(finished.isNull() ? QByteArrayList() : QByteArrayList{finished}, 0, 0);
            return WriteBytes(ScoreFileName, file);
        };
        QVERIFY(written());

        bool unsaved[ChartCount] = {};
        ScoreFileStatus status;
        MergeOwnScoreFile(unsaved, status);
        QCOMPARE(Pauses, pauses);
        QCOMPARE(status.cut, stillCut);
        QCOMPARE(int(status.refusal), int(ScoreFileRefusal::None));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(int(Chart(charts[i]).dpLost), merged[i]);
        // a plain load takes the records into the table itself: nothing of a cut read it read
        // again stays (one still cut keeps what it read, which only the merge puts right)
        if (stillCut)
            return;
        QVERIFY(written());
        LoadScoreFile();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(int(Chart(charts[i]).dpLost), merged[i]);
    }

    // The window holds ABSOLUTE at 20; the file, written just now, says ABSOLUTE 5 and, where
    // whole, 1998 7; the test's clock stands offset from the system's and moves step a pause.
    void fileStillBeingWrittenIsReadUntilAtRest_data()
    {
        QTest::addColumn<QByteArray>("file");  // "<saved>": saved by this process
        QTest::addColumn<QByteArrayList>("written");
        QTest::addColumn<int>("offsetMs");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<int>("pauses");
        QTest::addColumn<bool>("stillChanging");
        QTest::addColumn<QList<int>>("merged");  // ABSOLUTE, 1998
        const QByteArray absolute = ScoreRecord("ABSOLUTE", "01/02/2006", 5);
        const QByteArray whole = absolute + ScoreRecord("1998", "01/02/2006", 7);
        QTest::newRow("changed long ago: read once") << whole << QByteArrayList() << 3600000 << 0 << 0 << false << QList<int>{5, 7};
        QTest::newRow("changed a moment ago: read until at rest") << whole << QByteArrayList() << 0 << 0 << 5 << false << QList<int>{5, 7};
        QTest::newRow("the settle time passes while it waits") << whole << QByteArrayList() << 300 << 100 << 2 << false << QList<int>{5, 7};
        QTest::newRow("a time in whole seconds, as FAT keeps it, may be two seconds late")
            << "<whole second>" + whole << QByteArrayList() << 3600000 << 0 << 5 << false << QList<int>{5, 7};
        QTest::newRow("time ahead of a clock set back") << whole << QByteArrayList() << -3600000 << 0 << 5 << false << QList<int>{5, 7};
        QTest::newRow("emptied, then written record by record")
            << QByteArray("") << QByteArrayList{absolute, whole} << 0 << 0 << 7 << false << QList<int>{5, 7};
        QTest::newRow("still written after two seconds: nothing taken")
            << absolute << QByteArrayList{whole + '+'} << 0 << 0 << 20 << true << QList<int>{20, 658};
        QTest::newRow("emptied again after this process read it empty")
            << QByteArray("<read empty>") << QByteArrayList{absolute, whole} << 0 << 0 << 7 << false << QList<int>{5, 7};
        QTest::newRow("as this process wrote it: read once") << QByteArray("<saved>") << QByteArrayList() << 0 << 0 << 0 << false
                                                            << QList<int>{20, 7};
    }

    void fileStillBeingWrittenIsReadUntilAtRest()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArrayList, written);
        QFETCH(int, offsetMs);
        QFETCH(int, stepMs);
        QFETCH(int, pauses);
        QFETCH(bool, stillChanging);
        QFETCH(QList<int>, merged);
        const bool wholeSecond = file.startsWith("<whole second>");
        if (wholeSecond)
            file = file.mid(int(std::strlen("<whole second>")));
        if (file == "<saved>") {
            Score(Chart("ABSOLUTE"), 5, 1, 2, 2006);
            Score(Chart("1998"), 7, 1, 2, 2006);
            QVERIFY(SaveScoreFile());
        } else {
            QVERIFY(WriteBytes(ScoreFileName, file == "<read empty>" ? QByteArray() : file));
        }
        QFile stamped(QString::fromLatin1(ScoreFileName));  // a second before the clock stands
        QVERIFY(!wholeSecond || (stamped.open(QIODevice::ReadWrite) &&
                                 stamped.setFileTime(QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3599),
                                                     QFileDevice::FileModificationTime)));
        stamped.close();
        if (file == "<read empty>")  // read when it changed long ago, then emptied just now
            QVERIFY(!LoadScoreFile() && WriteBytes(ScoreFileName, ""));
        Score(Chart("ABSOLUTE"), 20);
        PauseAndClockOfTheTest(written, SystemNow() + offsetMs * int64_t(1000000), stepMs * int64_t(1000000));

        bool unsaved[ChartCount] = {};
        ScoreFileStatus status;
        MergeOwnScoreFile(unsaved, status);
        QCOMPARE(Pauses, pauses);
        QCOMPARE(status.refusal == ScoreFileRefusal::StillChanging, stillChanging);
        QCOMPARE(QList<int>({Chart("ABSOLUTE").dpLost, Chart("1998").dpLost}), merged);
        QCOMPARE(unsaved[Chart("ABSOLUTE").index], merged[0] == 20);
    }

    // The window holds ABSOLUTE at 20, not saved, over a file of .59 at 7; after the merge and
    // before the save another program changes the file.
    void saveMergesAgainWhatChangedAfterTheRead_data()
    {
        QTest::addColumn<QByteArray>("meanwhile");  // "<dir>": the file replaced by a folder
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("merged");
        QTest::addColumn<QByteArray>("text");  // saved, or the reason it was not
        const QByteArray first = ScoreRecord(".59", "02/03/2006", 7);
        const QByteArray edited = ScoreRecord(".59", "02/03/2006", 5) + ScoreRecord("1998", "04/05/2006", 9);
        QTest::newRow("unchanged: written at once") << QByteArray() << true << false << QByteArray("ABSOLUTE 20 .59 7 1998 658");
        QTest::newRow("an editor saved after the read: merged again")
            << edited << true << true << QByteArray("ABSOLUTE 20 .59 5 1998 9");
        QTest::newRow("replaced by a folder: nothing written") << QByteArray("<dir>") << false << false
                                                               << QByteArray("Is a directory");
        QTest::newRow("emptied to blank lines: written anew") << QByteArray("\r\n\r\n") << true << false
                                                             << QByteArray("ABSOLUTE 20 .59 7 1998 658");
        QTest::newRow("replaced by a text of no chart: left to its writer")
            << QByteArray("notes\n") << false << false << QByteArray("Holds no record of any chart");
        QTest::newRow("removed after the read: written anew") << QByteArray("<gone>") << true << false
                                                              << QByteArray("ABSOLUTE 20 .59 7 1998 658");
    }

    void saveMergesAgainWhatChangedAfterTheRead()
    {
        QFETCH(QByteArray, meanwhile);
        QFETCH(bool, saved);
        QFETCH(bool, merged);
        QFETCH(QByteArray, text);
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord(".59", "02/03/2006", 7)));
        Score(Chart("ABSOLUTE"), 20);
        bool unsaved[ChartCount] = {};
        unsaved[Chart("ABSOLUTE").index] = true;
        ScoreFileStatus status;
        MergeOwnScoreFile(unsaved, status);
        if (meanwhile.startsWith('<'))
            QVERIFY(QFile::remove(ScoreFileName) && (meanwhile == "<gone>" || MakeNonScoreFile("dir", ScoreFileName)));
        else if (!meanwhile.isEmpty())
            QVERIFY(WriteBytes(ScoreFileName, meanwhile));

        SaveFailure failure;
        bool mergedAgain = false;
        QCOMPARE(SaveMergedScoreFile(unsaved, status, &failure, mergedAgain), saved);
        QCOMPARE(mergedAgain, merged);
        if (!saved) {
            QCOMPARE(QByteArray(failure.reason), text);
            QVERIFY(meanwhile == "<dir>" ? QFileInfo(QString::fromLatin1(ScoreFileName)).isDir()
                                         : ReadBytes(ScoreFileName) == meanwhile);
            return;
        }
        f().FreshTable();
        QVERIFY(LoadScoreFile());
        QByteArray got;
        for (const char *title : {"ABSOLUTE", ".59", "1998"})
            got += QByteArray(title) + ' ' + QByteArray::number(Chart(title).dpLost) + ' ';
        QCOMPARE(got.trimmed(), text);
    }
};

QTEST_GUILESS_MAIN(TestScoreMerge)
#include "tst_score_merge.moc"
