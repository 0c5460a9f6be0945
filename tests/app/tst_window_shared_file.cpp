// Scores.txt as other programs leave it: another window of the program in the same folder, an
// editor changing the file while the window is open, and files that are no score file at all.
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/ioctl.h>
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>

#include "lock_holder.h"
#include "non_score_files.h"
#include "print_file.h"
#include "window_fixture.h"

namespace {

// A second window of the program, in a process of its own, working in the given folder, under
// a file size limit and with a shorter wait for the lock on its way out where they are given. It
// is ended at the latest when it goes out of scope.
class OtherWindow {
public:
    explicit OtherWindow(const QString &folder, [[maybe_unused]] int fileSizeLimit = 0, int endingLockWaitMs = 0)
    {
#ifndef _WIN32
        if (fileSizeLimit > 0)
            process_.setChildProcessModifier([fileSizeLimit] {
                const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
#endif
        QStringList arguments = {folder};
        if (endingLockWaitMs > 0)
            arguments << QString::number(endingLockWaitMs);
        process_.start(QStringLiteral(BRISKO_WINDOW_INSERTER), arguments);
        ready_ = process_.waitForStarted() && Answer() == QLatin1String("ready");
    }
    ~OtherWindow()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(10000);
    }

    bool Ready() const { return ready_; }

    QString InsertGreats(const char *title, int greats)
    {
        return Command(QStringLiteral("insert %1 %2").arg(greats).arg(QLatin1String(title)));
    }

    void Send(const QString &command) { process_.write(command.toLatin1() + '\n'); }
    QString Command(const QString &command) { return Send(command), Answer(); }

    QString Answer()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return QStringLiteral("<no answer>");
        return QString::fromLatin1(process_.readLine()).trimmed();
    }

#ifndef _WIN32
    void Signal(int signal) { ::kill(pid_t(process_.processId()), signal); }
#endif
    // The status the program ended with by itself within fifteen seconds, or -1.
    int EndStatus()
    {
        return process_.waitForFinished(15000) && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString ErrorText() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    bool ready_ = false;
};

// The DP line of a chart's record in a written score file, or -1 when the file has no record.
int StoredDp(const QByteArray &file, const char *title)
{
    const QByteArrayList lines = file.split('\n');
    for (qsizetype i = 0; i + 2 < lines.size(); i += 4)
        if (lines[i] == title)
            return lines[i + 2].toInt();
    return -1;
}

}  // namespace

class TestWindowSharedFile : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    QString ShownDp(const char *title) { return f().RowTexts(f().RowOf(title)).at(4); }

    const QString LockedMessage = QStringLiteral("Scores.txt could not be saved: Another window kept it locked. Plays.csv "
                                                 "could not be written either. The play is kept in the window; the next "
                                                 "Insert or closing tries again.");

private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

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

    // No signal ends the window with a score unsaved: one that asks the program to end saves it
    // quietly first, also while the close question is open, waiting for another window's lock;
    // past that wait the scores go into a recovery file that the next window takes in. A write
    // past the size limit or into a pipe whose reader left fails and says so.
    void noSignalLosesAScore_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("fileSizeLimit");  // room for a score file, not for a listing
        QTest::addColumn<QString>("answer");  // of the step, once the lock is free again
        QTest::addColumn<int>("lockHeldMs");  // after the signal; -1: past the wait, shortened to 300 ms
        const QString print = QStringLiteral("print");
        QTest::newRow("SIGTERM: a session without a manager ends") << SIGTERM << QString() << 0 << QString() << 0;
        QTest::newRow("SIGHUP: the terminal went away") << SIGHUP << QString() << 0 << QString() << 0;
        QTest::newRow("SIGINT: Ctrl+C") << SIGINT << QString() << 0 << QString() << 0;
        QTest::newRow("SIGTERM while the close question is open")
            << SIGTERM << QStringLiteral("close") << 0 << QStringLiteral("asking") << 0;
        QTest::newRow("SIGTERM while another window saves for 3 s: waited for")
            << SIGTERM << QString() << 0 << QString() << 3000;
        QTest::newRow("SIGTERM while another window keeps the lock: a recovery file")
            << SIGTERM << QString() << 0 << QString() << -1;
        QTest::newRow("file size limit: no SIGXFSZ")
            << 0 << print << 14000 << QStringLiteral("OutPrint.txt could not be written: File too large.") << 0;
        QTest::newRow("pipe reader gone: no SIGPIPE")
            << 0 << print << 0 << QStringLiteral("OutPrint.txt could not be written: Broken pipe.") << 0;
    }

    void noSignalLosesAScore()
    {
        QFETCH(int, signal);
        QFETCH(QString, step);
        QFETCH(int, fileSizeLimit);
        QFETCH(QString, answer);
        QFETCH(int, lockHeldMs);
        const QByteArray seed = ScoreRecord(".59", "01/02/2006", 20);
        QVERIFY(WriteBytes(ScoreFileName, seed));
        int reader = -1;
        if (step == QLatin1String("print") && fileSizeLimit == 0) {
            QVERIFY(mkfifo(PrintFileName, 0600) == 0);
            QVERIFY((reader = open(PrintFileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0);
            QVERIFY(fcntl(reader, F_SETPIPE_SZ, 4096) >= 0);  // the listing then waits for the reader
        }
        OtherWindow other(f().dir().path(), fileSizeLimit, lockHeldMs < 0 ? 300 : 0);
        QVERIFY(other.Ready());
        auto holder = std::make_unique<LockHolder>(f().dir().path());
        QCOMPARE(holder->Answer(), QByteArray("held"));
        QCOMPARE(other.InsertGreats("ABSOLUTE", 5), LockedMessage);
        QCOMPARE(ReadBytes(ScoreFileName), seed);
        if (lockHeldMs == 0)
            holder.reset();
        if (!step.isEmpty())
            other.Send(step);
        if (reader >= 0) {
            int waiting = 0;  // the other window has filled the pipe and waits for room
            QTRY_VERIFY_WITH_TIMEOUT(ioctl(reader, FIONREAD, &waiting) == 0 && waiting >= 4096, 10000);
            close(reader);
        }
        if (!answer.isEmpty())
            QCOMPARE(other.Answer(), answer);
        if (signal == 0) {
            QCOMPARE(other.InsertGreats("1998", 7), QStringLiteral("ok"));  // it lives on, and saves
        } else {
            other.Signal(signal);
            if (lockHeldMs > 0) {
                QTest::qWait(lockHeldMs);
                holder.reset();
            }
            QCOMPARE(other.EndStatus(), lockHeldMs < 0 ? 1 : 0);
        }
        if (lockHeldMs < 0) {
            const QString recovery = QDir(f().dir().path()).canonicalPath() + QStringLiteral("/Scores-recovery-1.txt");
            const QString errors = u'\n' + other.ErrorText();  // read once: the line may be the first
            QVERIFY2(errors.contains(QStringLiteral(
                         "\nbrisko-calculator: Scores.txt could not be saved: Another window kept it locked; 1 score and "
                         "1 play are kept in %1 until the next window opened there takes them in\n").arg(recovery)),
                     qPrintable(errors));
            QCOMPARE(ReadBytes(ScoreFileName), seed);
            holder.reset();
            f().Open();  // the next window takes it in, and removes it
            QVERIFY(!QFile::exists(recovery));
            QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("5"));
            QVERIFY(f().errors.isEmpty());
        }
        const QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 5);
        QCOMPARE(StoredDp(file, ".59"), 20);
        // and the play kept while the lock was held reached the journal with it
        const QList<QStringList> plays = WindowFixture::JournalRows();
        QCOMPARE(plays.value(1).value(1) + u' ' + plays.value(1).value(7), QStringLiteral("ABSOLUTE 5"));
    }
#endif

    // The toolkit ends the program through exit() where the display's connection broke, the
    // window still open: its unsaved score is saved on the way out into the file as another
    // program has left it, read again under the lock, also where the last Insert met a refused
    // file that the player has mended since.
    void exitSavesTheUnsavedScoreIntoTheFileAsChanged_data()
    {
        QTest::addColumn<bool>("refusedAtInsert");  // else another window kept the lock
        QTest::newRow("lock kept at the Insert, another record written since") << false;
        QTest::newRow("file too large at the Insert, mended since") << true;
    }

    void exitSavesTheUnsavedScoreIntoTheFileAsChanged()
    {
        QFETCH(bool, refusedAtInsert);
        const QByteArray seed = ScoreRecord(".59", "01/02/2006", 20);
        QVERIFY(WriteBytes(ScoreFileName, seed));
        OtherWindow other(f().dir().path());
        QVERIFY(other.Ready());
        std::unique_ptr<LockHolder> holder;
        if (refusedAtInsert) {
            QVERIFY(truncate(ScoreFileName, 3 << 20) == 0);
        } else {
            holder = std::make_unique<LockHolder>(f().dir().path());
            QCOMPARE(holder->Answer(), QByteArray("held"));
        }
        QVERIFY(other.InsertGreats("ABSOLUTE", 5).startsWith(QLatin1String("Scores.txt could not be saved: ")));
        holder.reset();
        QVERIFY(WriteBytes(ScoreFileName, seed + ScoreRecord("1998", "03/04/2006", 7)));
        other.Send(QStringLiteral("exit"));
        QCOMPARE(other.EndStatus(), EXIT_FAILURE);
        const QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(QList<int>({StoredDp(file, "ABSOLUTE"), StoredDp(file, "1998"), StoredDp(file, ".59")}),
                 QList<int>({5, 7, 20}));
        QCOMPARE(f().dir().entries(), QStringList({"Plays.csv", "Scores.txt"}));  // no recovery file
    }

    // With nothing left to save, the end waits for no other window's lock.
    void exitWithNothingUnsavedEndsAtOnceWhileTheLockIsKept()
    {
        OtherWindow other(f().dir().path());
        QVERIFY(other.Ready());
        LockHolder holder(f().dir().path());
        QCOMPARE(holder.Answer(), QByteArray("held"));
        QElapsedTimer ending;
        ending.start();
        other.Send(QStringLiteral("exit"));
        QCOMPARE(other.EndStatus(), EXIT_FAILURE);
        QVERIFY2(ending.elapsed() < 3000, QByteArray::number(ending.elapsed()));
        QCOMPARE(f().dir().entries(), QStringList());  // nothing written, no recovery file
    }

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
