#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include "unprivileged.h"
#include "writer_faults.h"
#endif

#include <QtTest>

#include "non_score_files.h"
#include "score_file_fixture.h"

// The score file as a whole: what is written, what is read into the own and the comparison
// scores, and which files are refused before a byte of them is taken.
class TestScoreFile : public ScoreFileRows {
    Q_OBJECT

private slots:
    void roundTripOfAllCharts()
    {
        for (int i = 0; i < ChartCount; ++i)
            Score(ChartTable[i], uint16_t(i * 3 % ChartTable[i].maxDp), uint8_t(1 + i % 31), uint8_t(1 + i % 12), uint16_t(1999 + i % 30));
        Score(ChartTable[7], 60000);  // a value above maxDp is written back as it was read
        ChartRecord saved[ChartCount];
        std::memcpy(saved, ChartTable, sizeof saved);

        QVERIFY(SaveScoreFile());
        f().FreshTable();
        QVERIFY(LoadScoreFile());
        for (int i = 0; i < ChartCount; ++i) {
            QCOMPARE(ChartTable[i].dpLost, saved[i].dpLost);
            QCOMPARE(ChartTable[i].day, saved[i].day);
            QCOMPARE(ChartTable[i].month, saved[i].month);
            QCOMPARE(ChartTable[i].year, saved[i].year);
            QCOMPARE(ChartTable[i].enemyDpLost, uint16_t(0));
        }
    }

    void writtenFileFormat()
    {
        Score(Chart("ABSOLUTE"), 10, 6, 9, 2005);
        QVERIFY(SaveScoreFile());
        const QByteArray bytes = ReadText(ScoreFileName);
        QCOMPARE(ReadBytes(ScoreFileName), QByteArray(bytes).replace("\n", SystemLineEnd));
        QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 1025);  // 1024 lines, each ending in a line feed
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines.mid(0, 4), QList<QByteArray>({".59", "00/00/0000", "550", "----------"}));
        QVERIFY(bytes.contains("\nABSOLUTE\n06/09/2005\n10\n----------\n"));
        QVERIFY(bytes.contains("\n1998\n00/00/0000\n658\n----------\n"));
        QVERIFY(bytes.endsWith("\nYOZORA NO MUKO\n00/00/0000\n664\n----------\n"));
        for (int i = 0; i < ChartCount; ++i)
            QCOMPARE(lines[4 * i], QByteArray(ChartTable[i].name));
    }

    void oneRecordOwnAndComparison()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", "10")));
        QVERIFY(LoadScoreFile());
        ExpectOwn("ABSOLUTE", 10, 6, 9, 2005);
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), 0);

        f().FreshTable();
        QVERIFY(LoadScoreFile("Scores.txt"));
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), 10);
        QVERIFY(IsUnscored(Chart("ABSOLUTE")));
    }

    void onlyRegularFilesOfAScoreFilesSizeAreRead_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QByteArray>("reason");
        const int notRegular = int(ScoreFileRefusal::NotRegular);
        const int tooLarge = int(ScoreFileRefusal::TooLarge);
        QTest::newRow("named pipe without a writer") << QByteArray("fifo") << notRegular << QByteArray("Is a named pipe");
        QTest::newRow("link to an endless device") << QByteArray("zero") << notRegular << QByteArray("Is a device");
        QTest::newRow("socket") << QByteArray("socket") << notRegular << QByteArray("Is a socket");
        QTest::newRow("directory") << QByteArray("dir") << notRegular << QByteArray("Is a directory");
        QTest::newRow("file of no size that reads on without end")
            << QByteArray("endless") << tooLarge << QByteArray("Is more than 2097152 bytes long, far more than any score file");
        QTest::newRow("sparse gigabyte") << QByteArray("huge") << tooLarge
                                         << QByteArray("Is 1073741824 bytes long, far more than any score file");
        QTest::newRow("one byte above the bound") << QByteArray("above") << tooLarge
                                                  << QByteArray("Is 2097153 bytes long, far more than any score file");
        QTest::newRow("exactly the bound is read") << QByteArray("bound") << int(ScoreFileRefusal::None) << QByteArray();
        QTest::newRow("text that names no chart") << QByteArray("nochart") << int(ScoreFileRefusal::NamesNoChart)
                                                  << QByteArray("Holds no record of any chart");
    }

    void onlyRegularFilesOfAScoreFilesSizeAreRead()
    {
        QFETCH(QByteArray, kind);
        QFETCH(int, refusal);
        QFETCH(QByteArray, reason);
        if (!SystemMakesKind(kind))
            QSKIP("this system has no such kind of file");
        QVERIFY(MakeNonScoreFile(kind, ScoreFileName));
#ifndef _WIN32
        alarm(10);  // a load that waits on the pipe ends the test here rather than hanging it
#endif
        ScoreFileStatus own;
        const bool ownMatched = LoadScoreFile(nullptr, &own);
        ScoreFileStatus comparison;
        const bool comparisonMatched = LoadScoreFile(ScoreFileName, &comparison);
#ifndef _WIN32
        alarm(0);
#endif
        const bool read = refusal == int(ScoreFileRefusal::None);
        QCOMPARE(int(own.refusal), refusal);
        QCOMPARE(int(comparison.refusal), refusal);
        QCOMPARE(IsRefusal(own), !read);
        QCOMPARE(QByteArray(DescribeRefusal(own).text), reason);
        QCOMPARE(ownMatched, read);
        QCOMPARE(comparisonMatched, read);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), read ? 10 : 622);
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), read ? 10 : 0);
    }

    // Root reads anything, so the file is read as nobody; on Windows another program holds it
    // open without sharing. A disk that fails the read gives no file without scores either.
    void unreadableFileIsRefusedWithItsReason()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        const auto refusedWithReason = [](int error = EACCES) {
            ScoreFileStatus status;
            LoadScoreFile(nullptr, &status);
            return status.refusal == ScoreFileRefusal::Unreadable && status.error == error &&
                   QByteArray(DescribeRefusal(status).text) == std::strerror(error);
        };
#ifdef _WIN32
        HANDLE held = CreateFileW(L"Scores.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const bool refused = refusedWithReason();
        CloseHandle(held);
        QVERIFY(refused);
#else
        QVERIFY(chmod("Scores.txt", 0) == 0);
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [&] { return refusedWithReason() ? 1 : 0; }), 1);
        const ScopedWriterFault fault("read", EIO);
        QVERIFY(chmod("Scores.txt", 0600) == 0 && refusedWithReason(EIO));
#endif
    }

#ifdef _WIN32
    // Device and pipe names are refused as what they are, without waiting on them.
    void deviceNamesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("null device") << QByteArray("NUL") << QByteArray("Is a device");
        QTest::newRow("device namespace") << QByteArray("\\\\.\\COM1") << QByteArray("Is a device");
        QTest::newRow("named pipe") << QByteArray("\\\\.\\pipe\\brisko") << QByteArray("Is a named pipe");
    }

    void deviceNamesAreRefused()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, reason);
        ScoreFileStatus status;
        QVERIFY(!LoadScoreFile(name.constData(), &status));
        QCOMPARE(status.refusal, ScoreFileRefusal::NotRegular);
        QCOMPARE(QByteArray(DescribeRefusal(status).text), reason);
    }
#endif

    void comparisonLoadTouchesOnlyEnemyValues()
    {
        Score(Chart("1998"), 12, 1, 2, 2003);
        Chart(".59").enemyDpLost = 77;
        QVERIFY(WriteBytes("rival.txt", ScoreRecord("1998", "09/09/2009", "40")));
        QVERIFY(LoadScoreFile("rival.txt"));
        ExpectOwn("1998", 12, 1, 2, 2003);
        QCOMPARE(int(Chart("1998").enemyDpLost), 40);
        QCOMPARE(int(Chart(".59").enemyDpLost), 77);  // not named: keeps the earlier file's value
    }

    void unreadableFilesYieldFalse()
    {
        QVERIFY(!LoadScoreFile());  // no Scores.txt
        QVERIFY(!LoadScoreFile(""));
        QVERIFY(!LoadScoreFile("missing.txt"));
        QVERIFY(QDir().mkdir("Scores.txt"));
        QVERIFY(!LoadScoreFile());  // a directory: the read fails and the load ends
        for (const ChartRecord &c : ChartTable)
            QCOMPARE(c.dpLost, c.maxDp);
    }
};

QTEST_GUILESS_MAIN(TestScoreFile)
#include "tst_score_file.moc"
