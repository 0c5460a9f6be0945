// Scores.txt as other programs leave it: another window of the program in the same folder, an
// editor changing the file while the window is open, and files that are no score file at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileDialog>

#include "lock_holder.h"
#include "non_score_files.h"
#include "other_window.h"

class TestWindowSharedFile : public QObject, public SharedFileFixture {
    Q_OBJECT

private slots:
    void init() { StartTest(); }
    void cleanup() { EndTest(); }

    void twoWindowsInsertingInTurnKeepEveryScore()
    {
        f().Open();
        OtherWindow other(f().dir().path());
        QVERIFY(other.Ready());

        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QCOMPARE(other.InsertGreats("1998", 5), QStringLiteral("ok"));
        f().InsertGreats(".59", QStringLiteral("3"));
        QCOMPARE(other.InsertGreats("5.1.1.", 0), QStringLiteral("ok"));
        // the other window betters a chart this one saved; this one's next save keeps that
        QCOMPARE(other.InsertGreats("ABSOLUTE", 4), QStringLiteral("ok"));
        f().InsertGreats("1998", QStringLiteral("2"));

        const QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 4);
        QCOMPARE(StoredDp(file, "1998"), 2);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("4"));  // read back on this window's last insert
        QVERIFY(f().errors.isEmpty());
        QCOMPARE(f().dir().entries(), QStringList({"Plays.csv", "Scores.txt"}));
        // both windows' plays, each on a line of its own, in the order they were played
        QStringList titles;
        for (const QStringList &row : WindowFixture::JournalRows())
            titles << row.value(1) + u' ' + row.value(7);
        QCOMPARE(titles, QStringList({"title dp_lost", "ABSOLUTE 10", "1998 5", ".59 3", "5.1.1. 0", "ABSOLUTE 4", "1998 2"}));
    }

    void editsFromOutsideAreKeptAndShown()
    {
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "01/02/2006", 20)));
        f().Open();
        f().ClickHeader(4);  // fewest DP lost first

        // an editor lowers ABSOLUTE and adds 1998 while the window shows ABSOLUTE at 20
        const QByteArray edited = ScoreRecord("ABSOLUTE", "01/02/2006", 5) + ScoreRecord("1998", "03/04/2006", 7);
        QVERIFY(WriteBytes(ScoreFileName, edited));
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QVERIFY(f().Find<QWidget>("PanelInsert")->isHidden());  // 10 is worse than the 5 now stored
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("5"));
        QCOMPARE(ShownDp("1998"), QStringLiteral("7"));
        QCOMPARE(f().Titles().mid(0, 2), QStringList({"ABSOLUTE", "1998"}));  // sorted and counted anew
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: AA:2   E:254   "));
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("10"));
        f().Click("ButtonWarningNO");
        QCOMPARE(ReadText(ScoreFileName), edited);

        f().InsertGreats("5.1.1.", QStringLiteral("0"));
        QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 5);
        QCOMPARE(StoredDp(file, "1998"), 7);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);

        // a file come back smaller (another window's save, a cut copy) removes no score: the
        // records it lost are written back
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("5.1.1.", "05/06/2006", 0) + ScoreRecord("1998", "00/00/0000", 658)));
        f().InsertGreats(".59", QStringLiteral("3"));
        file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 5);
        QCOMPARE(StoredDp(file, "1998"), 7);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("5"));

        // a file deleted while the window is open is written again, every score in it
        QVERIFY(QFile::remove(ScoreFileName));
        f().InsertGreats("1998", QStringLiteral("1"));
        file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(StoredDp(file, "1998"), 1);

#ifndef _WIN32
        // an edit in place that keeps the length and puts the old times back is read all the same
        struct stat saved;
        QVERIFY(stat(ScoreFileName, &saved) == 0);
        const qsizetype at = file.indexOf("\n.59\n") + 16;
        QCOMPARE(file.mid(at, 2), QByteArray("3\n"));
        file[at] = '2';
        QFile inPlace(QString::fromLatin1(ScoreFileName));
        QVERIFY(inPlace.open(QIODevice::ReadWrite) && inPlace.write(file) == file.size());
        inPlace.close();
        const timespec times[2] = {saved.st_atim, saved.st_mtim};
        QVERIFY(utimensat(AT_FDCWD, ScoreFileName, times, 0) == 0);
        f().InsertGreats("ABSOLUTE", QStringLiteral("9"));
        QCOMPARE(StoredDp(ReadText(ScoreFileName), ".59"), 2);
        QCOMPARE(ShownDp(".59"), QStringLiteral("2"));
#endif
        QVERIFY(f().errors.isEmpty());
    }

    // Scores the window could not save are kept through a refused file, its removal and a busy
    // lock, and give way only to better ones.
    void unsavedScoresOutliveARefusedFileAndABusyLock()
    {
        f().Open();
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        f().InsertGreats(".59", QStringLiteral("3"));
        QVERIFY(truncate(ScoreFileName, 3 << 20) == 0);
        f().InsertGreats("5.1.1.", QStringLiteral("0"));
        QCOMPARE(f().errors, QStringList({"Scores.txt could not be saved: Is 3145728 bytes long, far more than any score file."}));
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("10"));
        QVERIFY(QFile::remove(ScoreFileName));
        f().InsertGreats("1998", QStringLiteral("4"));
        QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 10);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);
        QCOMPARE(StoredDp(file, "1998"), 4);

        // another window holds the lock while this one inserts: the file stays as it was
        {
            LockHolder holder(f().dir().path());
            QCOMPARE(holder.Answer(), QByteArray("held"));
            f().errors.clear();
            f().InsertGreats("ABSOLUTE", QStringLiteral("8"));
            QCOMPARE(f().errors, QStringList({LockedMessage}));
            QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("8"));
            QCOMPARE(ReadBytes(ScoreFileName), QByteArray(file).replace("\n", SystemLineEnd));
        }

        OtherWindow other(f().dir().path());
        QVERIFY(other.Ready());
        QCOMPARE(other.InsertGreats("ABSOLUTE", 6), QStringLiteral("ok"));
        f().InsertGreats("1998", QStringLiteral("2"));
        file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 6);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("6"));
        QCOMPARE(StoredDp(file, "1998"), 2);
        QCOMPARE(f().errors.size(), 1);
        QVERIFY(f().window().close());  // nothing left unsaved
    }

    // Scores a file no longer holds (replaced by a folder, then by another window's save of
    // one score) stay in the window, are counted by the close question, and are saved again.
    void scoresTheFileLostCountAsUnsaved()
    {
        f().Open();
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        f().InsertGreats(".59", QStringLiteral("3"));
        QVERIFY(QFile::remove(ScoreFileName) && QDir().mkdir(QString::fromLatin1(ScoreFileName)));
        QList<int> asked;
        TBK_ControlMain::SetUnsavedScoresQuestion([&asked](int unsaved, int) {
            asked << unsaved;
            return TBK_ControlMain::UnsavedScoresAnswer::Cancel;
        });
        QVERIFY(!f().window().close());
        QCOMPARE(asked, QList<int>{2});

        QVERIFY(QDir().rmdir(QString::fromLatin1(ScoreFileName)));
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "00/00/0000", 622) + ScoreRecord("1998", "01/02/2006", 7)));
        f().InsertGreats("5.1.1.", QStringLiteral("0"));
        const QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(QList<int>({StoredDp(file, "ABSOLUTE"), StoredDp(file, ".59"), StoredDp(file, "1998"), StoredDp(file, "5.1.1.")}),
                 QList<int>({10, 3, 7, 0}));
        QVERIFY(f().window().close());
        QCOMPARE(asked.size(), 1);
    }

    // Another program stores a score while the warning shows: OK stores only over the score
    // the warning compared with, and asks again over a better one.
    void warningStoresOnlyOverTheScoreItShowed_data()
    {
        QTest::addColumn<int>("meanwhile");  // ABSOLUTE's DP lost stored meanwhile, -1 for none
        QTest::addColumn<bool>("askedAgain");
        QTest::newRow("nothing meanwhile: OK stores") << -1 << false;
        QTest::newRow("better meanwhile: asked again") << 5 << true;
        QTest::newRow("worse meanwhile: OK stores") << 30 << false;
    }

    void warningStoresOnlyOverTheScoreItShowed()
    {
        QFETCH(int, meanwhile);
        QFETCH(bool, askedAgain);
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "01/02/2006", 10)));
        f().Open();
        f().InsertGreats("ABSOLUTE", QStringLiteral("20"));
        QVERIFY(f().WarningShown());
        if (meanwhile >= 0)
            QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "03/04/2006", meanwhile)));
        f().Click("ButtonWarningOK");
        QCOMPARE(f().WarningShown(), askedAgain);
        QCOMPARE(StoredDp(ReadText(ScoreFileName), "ABSOLUTE"), askedAgain ? meanwhile : 20);
        if (askedAgain) {
            QCOMPARE(f().LabelText("LabelWarningStored"),
                     QStringLiteral("Meanwhile another window or an editor stored DP lost 5 of 03/04/2006 for ABSOLUTE in "
                                    "Scores.txt. This play loses 20."));
            f().Click("ButtonWarningOK");
            QVERIFY(!f().WarningShown());
            QCOMPARE(StoredDp(ReadText(ScoreFileName), "ABSOLUTE"), 20);
        }
        QVERIFY(f().errors.isEmpty());
    }

#ifndef _WIN32
    // A shell loop writes Scores.txt record by record through one open file, a moment between
    // records, while the window inserts: the Insert waits until the file is at rest, so that
    // no record goes into a file its save replaced.
    void fileWrittenRecordByRecordIsWaitedFor()
    {
        f().Open();
        QByteArray records;
        for (int i = 0; i < 24; ++i)
            records += ScoreRecord(ChartTable[i].name, "01/02/2006", i + 1);
        QVERIFY(WriteBytes(QStringLiteral("records.in"), records));
        QProcess writer;
        writer.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral(
            "n=0; while IFS= read -r line; do printf '%s\\n' \"$line\"; n=$((n + 1)); "
            "[ $((n % 4)) -ne 0 ] || sleep 0.03; done < records.in > Scores.txt")});
        QVERIFY(writer.waitForStarted());
        QTRY_VERIFY(QFileInfo(QString::fromLatin1(ScoreFileName)).size() > 0);
        f().InsertGreats("ABSOLUTE", QStringLiteral("0"));
        if (!writer.waitForFinished(10000))
            writer.kill();
        QCOMPARE(writer.exitCode(), 0);
        const QByteArray file = ReadText(ScoreFileName);
        for (int i = 0; i < 24; ++i)
            QCOMPARE(StoredDp(file, ChartTable[i].name), std::strcmp(ChartTable[i].name, "ABSOLUTE") == 0 ? 0 : i + 1);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 0);
        QVERIFY(f().errors.isEmpty());
    }
#endif

    void fileThatIsNoScoreFileIsToldAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("named pipe without a writer") << QByteArray("fifo") << QStringLiteral("Is a named pipe");
        QTest::newRow("link to an endless device") << QByteArray("zero") << QStringLiteral("Is a device");
        QTest::newRow("socket") << QByteArray("socket") << QStringLiteral("Is a socket");
        QTest::newRow("sparse gigabyte")
            << QByteArray("huge") << QStringLiteral("Is 1073741824 bytes long, far more than any score file");
        QTest::newRow("file of no size that reads on without end")
            << QByteArray("endless") << QStringLiteral("Is more than 2097152 bytes long, far more than any score file");
        QTest::newRow("text that names no chart") << QByteArray("nochart") << QStringLiteral("Holds no record of any chart");
    }

    void fileThatIsNoScoreFileIsToldAndLeftAlone()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QString, reason);
        if (!SystemMakesKind(kind))
            QSKIP("the system makes no such file");
        QVERIFY(MakeNonScoreFile(kind, ScoreFileName));
        const QStringList entries = f().dir().entries();
        struct stat before;
        QVERIFY(stat(ScoreFileName, &before) == 0);
        const QByteArray bytes = kind == "nochart" ? ReadBytes(ScoreFileName) : QByteArray();

        QElapsedTimer started;
        started.start();
        f().Open();
        QVERIFY2(started.elapsed() < 3000, QByteArray::number(started.elapsed()));
        QTRY_COMPARE(f().errors, QStringList({QStringLiteral("Scores.txt was not read: %1. The window starts without "
                                                             "scores and leaves that file as it is.").arg(reason)}));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: E:256   "));

        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        // the journal lies beside the file the name stands for, out of reach behind the endless link
        const QString refused = QStringLiteral("Scores.txt could not be saved: %1.").arg(reason);
        QCOMPARE(f().errors.value(1).left(kind == "endless" ? refused.size() : -1), refused);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("10"));

        // nor is it read for a comparison, which ends at once and silently
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QString::fromLatin1(ScoreFileName);
            return true;
        });
        started.restart();
        f().Click("ButtonCompare");
        QVERIFY(started.elapsed() < 3000);
        QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());
        QCOMPARE(f().errors.size(), 2);

        struct stat after;
        QVERIFY(stat(ScoreFileName, &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
#ifndef _WIN32
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
#endif
        QStringList expected = entries;
        if (kind != "endless")
            expected << QStringLiteral("Plays.csv");
        expected.sort();
        QCOMPARE(f().dir().entries(), expected);
        if (!bytes.isEmpty())
            QCOMPARE(ReadBytes(ScoreFileName), bytes);
    }
};

QTEST_MAIN(TestWindowSharedFile)
#include "tst_window_shared_file.moc"
