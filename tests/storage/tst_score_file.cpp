#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include "unprivileged.h"
#include "writer_faults.h"
#endif

#include <chrono>

#include <QtTest>

#include "chart_fixture.h"
#include "score_file.h"
#include "non_score_files.h"

namespace {

QList<int> OwnScores()
{
    QList<int> scores;
    for (const ChartRecord &c : ChartTable)
        scores << c.dpLost << c.day << c.month << c.year;
    return scores;
}

// The text as UTF-16, with or without its byte-order mark.
QByteArray Utf16(const QByteArray &text, bool bigEndian, bool mark)
{
    QByteArray bytes = mark ? QByteArray(bigEndian ? "\xfe\xff" : "\xff\xfe") : QByteArray();
    for (char c : text)
        bytes += bigEndian ? QByteArray(1, 0) + c : QByteArray(1, c) + '\0';
    return bytes;
}

// Stands in for the pause before a file is read again: counts, writes what another program
// wrote meanwhile (one text a pause, then nothing; a text ending in "+" is written anew at every
// pause with one more blank line, a file that never comes to rest), and moves the clock on.
int Pauses = 0;
QByteArrayList WrittenDuringPauses;
int64_t ClockStart = 0;
int64_t ClockStep = 0;

void PauseOfTheTest()
{
    ++Pauses;
    if (!WrittenDuringPauses.isEmpty() && WrittenDuringPauses.first().endsWith('+'))
        WriteBytes(ScoreFileName, WrittenDuringPauses.first().chopped(1) + QByteArray(Pauses, '\n'));
    else if (!WrittenDuringPauses.isEmpty())
        WriteBytes(ScoreFileName, WrittenDuringPauses.takeFirst());
}

int64_t SystemNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Files written by the test count as changed long ago, unless a test sets the clock itself.
int64_t ClockOfTheTest()
{
    return (ClockStart != 0 ? ClockStart : SystemNow() + 3600'000'000'000) + Pauses * ClockStep;
}

void PauseAndClockOfTheTest(const QByteArrayList &written, int64_t start, int64_t step)
{
    Pauses = 0;
    WrittenDuringPauses = written;
    ClockStart = start;
    ClockStep = step;
    SetPauseBeforeReadingAgain(PauseOfTheTest);
}

}  // namespace

class TestScoreFile : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

    void expectOwn(const char *name, int dpLost, int day, int month, int year)
    {
        const ChartRecord &c = Chart(name);
        QCOMPARE(int(c.dpLost), dpLost);
        QCOMPARE(int(c.day), day);
        QCOMPARE(int(c.month), month);
        QCOMPARE(int(c.year), year);
    }

private slots:
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        ForgetScoreFile();
        ClockStart = 0;
        SetScoreFileClock(ClockOfTheTest);
    }

    void cleanup()
    {
        SetPauseBeforeReadingAgain(nullptr);
        SetScoreFileClock(nullptr);
        fixture_.reset();
    }

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
        expectOwn("ABSOLUTE", 10, 6, 9, 2005);
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), 0);

        f().FreshTable();
        QVERIFY(LoadScoreFile("Scores.txt"));
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), 10);
        QVERIFY(IsUnscored(Chart("ABSOLUTE")));
    }

    void crlfReadsAsLfWhereverItFalls_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("absoluteDp");
        const QByteArrayList absolute = {"ABSOLUTE", "06/09/2005", "10", "----------"};
        const QByteArrayList after = QByteArrayList{"01/01/2001", "1", "----------"} + absolute;
        QTest::newRow("short lines") << QByteArrayList{"1998"} + after << 10;
        QTest::newRow("CR the last byte that fits, after 126 characters") << QByteArrayList{QByteArray(126, 'y')} + after << 10;
        QTest::newRow("127 characters: two lines either way, the rest shifts") << QByteArrayList{QByteArray(127, 'y')} + after << 622;
        QTest::newRow("253 characters: CR the last byte of the second piece")
            << QByteArrayList{QByteArray(253, 'y'), "1", "----------"} + absolute << 10;
    }

    void crlfReadsAsLfWhereverItFalls()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(int, absoluteDp);
        QVERIFY(WriteBytes("Scores.txt", lines.join("\n") + "\n"));
        LoadScoreFile();
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), absoluteDp);
        const QList<int> withLf = OwnScores();

        f().FreshTable();
        QVERIFY(WriteBytes("Scores.txt", lines.join("\r\n") + "\r\n"));
        LoadScoreFile();
        QCOMPARE(OwnScores(), withLf);
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

    void crlfLinesReadTheSame()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", "10", "\r\n") + ScoreRecord("1998", "01/02/2006", "5", "\r\r\n")));
        QVERIFY(LoadScoreFile());
        expectOwn("ABSOLUTE", 10, 6, 9, 2005);
        expectOwn("1998", 5, 1, 2, 2006);
    }

    void recordsMatchExactTitlesOnly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("absoluteDp");
        QTest::newRow("lower-case title skipped") << ScoreRecord("absolute", "06/09/2005", "10") << false << 622;
        QTest::newRow("title with trailing blank skipped") << ScoreRecord("ABSOLUTE ", "06/09/2005", "10") << false << 622;
        QTest::newRow("the chart after the last record's, in another letter case, skipped")
            << ScoreRecord("99 Red Sneakers", "01/01/2001", "1") + ScoreRecord("ABSOLUTe", "06/09/2005", "10") << true << 622;
        QTest::newRow("unknown title skipped, later record read") << ScoreRecord("No Such Song", "01/01/2001", "1") + ScoreRecord("ABSOLUTE", "06/09/2005", "10") << true << 10;
        QTest::newRow("duplicate title: later record wins") << ScoreRecord("ABSOLUTE", "06/09/2005", "10") + ScoreRecord("ABSOLUTE", "07/09/2005", "3") << true << 3;
        QTest::newRow("empty file") << QByteArray() << false << 622;
        QTest::newRow("only line ends") << QByteArray("\n\n\n\n\n\n\n\n\n") << false << 622;
        QTest::newRow("DP line of 127 digits, the most a line holds, ends the file without a line end")
            << "ABSOLUTE\n06/09/2005\n" + QByteArray(127, '1') << true << 29127;
        const QByteArray absolute = ScoreRecord("ABSOLUTE", "06/09/2005", "10", "\r\n");
        QTest::newRow("UTF-8 mark before the first title") << "\xef\xbb\xbf" + absolute << true << 10;
        QTest::newRow("UTF-8 mark before a later title: no such title")
            << ScoreRecord("1998", "06/09/2005", "5") + "\xef\xbb\xbf" + absolute << true << 622;
        QTest::newRow("UTF-16 LE with its mark") << Utf16(absolute, false, true) << true << 10;
        QTest::newRow("UTF-16 BE with its mark") << Utf16(absolute, true, true) << true << 10;
        QTest::newRow("UTF-16 LE without a mark: NULs in the first line") << Utf16(absolute, false, false) << true << 10;
        QTest::newRow("UTF-16 BE without a mark") << Utf16(absolute, true, false) << true << 10;
        QTest::newRow("UTF-16 with an odd last byte") << Utf16(absolute, false, true) + 'x' << true << 10;
        QTest::newRow("UTF-16 title beyond Latin-1 names no chart: U+0145 is no E")
            << Utf16("ABSOLUT", false, true) + "\x45\x01" + Utf16("\r\n06/09/2005\r\n10\r\n", false, false) << false << 622;
    }

    void recordsMatchExactTitlesOnly()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, result);
        QFETCH(int, absoluteDp);
        QVERIFY(WriteBytes("Scores.txt", file));
        QCOMPARE(LoadScoreFile(), result);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), absoluteDp);
        QCOMPARE(LoadScoreFile("Scores.txt"), result);
    }

    void dpLineParsing_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("dpLost");
        QTest::newRow("plain") << QByteArray("10") << 10;
        QTest::newRow("-1 becomes 65535") << QByteArray("-1") << 65535;
        QTest::newRow("no digits is 0") << QByteArray("abc") << 0;
        QTest::newRow("empty is 0") << QByteArray("") << 0;
        QTest::newRow("digits then letters") << QByteArray("12ab") << 12;
        QTest::newRow("leading blanks and plus") << QByteArray("  \t+7") << 7;
        QTest::newRow("above maxDp stored unchanged") << QByteArray("9999") << 9999;
        QTest::newRow("low 16 bits of 65546") << QByteArray("65546") << 10;
        QTest::newRow("20 digits keep their low 16 bits") << QByteArray("12345678901234567890") << int(12345678901234567890ull & 0xffff);
        QTest::newRow("blank between sign and digits is 0") << QByteArray("- 5") << 0;
    }

    void dpLineParsing()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, dpLost);
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", line)));
        QVERIFY(LoadScoreFile());
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), dpLost);
    }

    void dateLineParsing_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("year");
        QTest::newRow("zero-padded") << QByteArray("06/09/2005") << 6 << 9 << 2005;
        QTest::newRow("unpadded 6/9/2005 reads by position") << QByteArray("6/9/2005") << 6 << 0 << 5;
        QTest::newRow("empty line: every piece 0") << QByteArray("") << 0 << 0 << 0;
        QTest::newRow("day only") << QByteArray("06") << 6 << 0 << 0;
        QTest::newRow("ends before the month") << QByteArray("06/") << 6 << 0 << 0;
        QTest::newRow("ends before the year") << QByteArray("06/09") << 6 << 9 << 0;
        QTest::newRow("ends at the year") << QByteArray("06/09/") << 6 << 9 << 0;
        QTest::newRow("//") << QByteArray("//") << 0 << 0 << 0;
        QTest::newRow("99/99/99999 keeps 16 bits of the year") << QByteArray("99/99/99999") << 99 << 99 << (99999 & 0xffff);
        QTest::newRow("three-digit day shifts the pieces") << QByteArray("300/09/2005") << 30 << 0 << 0;
    }

    void dateLineParsing()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, day);
        QFETCH(int, month);
        QFETCH(int, year);
        // The title matches "1998" up to its first NUL byte and leaves digits at positions 3 and
        // 6 of the reused line buffer: a short date line must not pick them up.
        const QByteArray paddedTitle("1998\0\0" "2013", 10);
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(paddedTitle, line, "10")));
        QVERIFY(LoadScoreFile());
        expectOwn("1998", 10, day, month, year);
    }

    void endOfFileCases_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("dpLost");
        QTest::addColumn<int>("day");
        const QByteArray full = "ABSOLUTE\n06/09/2005\n10\n----------";
        QTest::newRow("last separator without line end: complete") << full << true << 10 << 6;
        QTest::newRow("no separator after DP with line end: complete") << QByteArray("ABSOLUTE\n06/09/2005\n10\n") << true << 10 << 6;
        // with no record whole, the file names no chart: nothing of it is taken, not even a date
        QTest::newRow("DP line last without line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005\n10") << false << 622 << 0;
        QTest::newRow("date line last with line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005\n") << false << 622 << 0;
        QTest::newRow("date line last without line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005") << false << 622 << 0;
        QTest::newRow("file ends after the title line") << QByteArray("ABSOLUTE\n") << false << 622 << 0;
        QTest::newRow("title without line end") << QByteArray("ABSOLUTE") << false << 622 << 0;
    }

    void endOfFileCases()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, result);
        QFETCH(int, dpLost);
        QFETCH(int, day);
        QVERIFY(WriteBytes("Scores.txt", file));
        QCOMPARE(LoadScoreFile(), result);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), dpLost);
        QCOMPARE(int(Chart("ABSOLUTE").day), day);
    }

    void longLinesAreReadInPieces()
    {
        // 127 characters and a line end make two lines: the record after it shifts by one
        const QByteArray line127(127, 'x');
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(line127, "01/01/2001", "1") + "ABSOLUTE\n06/09/2005\n10\n----------\n" + ScoreRecord("1998", "01/01/2006", "7")));
        QVERIFY(!LoadScoreFile());
        QVERIFY(IsUnscored(Chart("ABSOLUTE")));
        QVERIFY(IsUnscored(Chart("1998")));

        // with one line fewer after the long one, the records line up again
        f().FreshTable();
        QVERIFY(WriteBytes("Scores.txt", line127 + "\n01/01/2001\n1\n" + ScoreRecord("ABSOLUTE", "06/09/2005", "10")));
        QVERIFY(LoadScoreFile());
        expectOwn("ABSOLUTE", 10, 6, 9, 2005);
    }

    void titleOf126CharactersStillOneLine()
    {
        const QByteArray line126(126, 'y');
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(line126, "01/01/2001", "1") + ScoreRecord("ABSOLUTE", "06/09/2005", "10")));
        QVERIFY(LoadScoreFile());
        expectOwn("ABSOLUTE", 10, 6, 9, 2005);
    }

    void comparisonLoadTouchesOnlyEnemyValues()
    {
        Score(Chart("1998"), 12, 1, 2, 2003);
        Chart(".59").enemyDpLost = 77;
        QVERIFY(WriteBytes("rival.txt", ScoreRecord("1998", "09/09/2009", "40")));
        QVERIFY(LoadScoreFile("rival.txt"));
        expectOwn("1998", 12, 1, 2, 2003);
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
