// Scores.txt as other programs leave it: another window of the program in the same folder, an
// editor changing the file while the window is open, and files that are no score file at all.
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>

#include "non_score_files.h"
#include "score_file_lock.h"
#include "window_fixture.h"

namespace {

// A second window of the program, in a process of its own, working in the given folder.
class OtherWindow {
public:
    explicit OtherWindow(const QString &folder)
    {
        process_.start(QStringLiteral(BRISKO_WINDOW_INSERTER), {folder});
        ready_ = process_.waitForStarted() && Answer() == QLatin1String("ready");
    }
    ~OtherWindow()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
    }

    bool Ready() const { return ready_; }

    QString InsertGreats(const char *title, int greats)
    {
        process_.write(QStringLiteral("insert %1 %2\n").arg(greats).arg(QLatin1String(title)).toLatin1());
        return Answer();
    }

private:
    QString Answer()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return QStringLiteral("<no answer>");
        return QString::fromLatin1(process_.readLine()).trimmed();
    }

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
        QCOMPARE(f().dir().entries(), QStringList({"Scores.txt"}));
    }

    void editsFromOutsideAreKeptAndShown()
    {
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "01/02/2006", 20)));
        f().Open();

        // an editor lowers ABSOLUTE and adds 1998 while the window shows ABSOLUTE at 20
        const QByteArray edited = ScoreRecord("ABSOLUTE", "01/02/2006", 5) + ScoreRecord("1998", "03/04/2006", 7);
        QVERIFY(WriteBytes(ScoreFileName, edited));
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QVERIFY(f().Find<QWidget>("PanelInsert")->isHidden());  // 10 is worse than the 5 now stored
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("5"));
        QCOMPARE(ShownDp("1998"), QStringLiteral("7"));
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("10"));
        f().Click("ButtonWarningNO");
        QCOMPARE(ReadText(ScoreFileName), edited);

        f().InsertGreats("5.1.1.", QStringLiteral("0"));
        QByteArray file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 5);
        QCOMPARE(StoredDp(file, "1998"), 7);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);

        // a record the editor removes is gone from the window as well
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("5.1.1.", "05/06/2006", 0)));
        f().InsertGreats(".59", QStringLiteral("3"));
        file = ReadText(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 622);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("N/A"));

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

#ifndef _WIN32
        // another window holds the lock while this one inserts
        int ready[2];
        QVERIFY(pipe2(ready, O_CLOEXEC) == 0);
        const pid_t holder = fork();
        if (holder == 0) {
            const ScoreFileLock lock;
            if (write(ready[1], lock.Busy() ? "b" : "l", 1) == 1)
                pause();
            _exit(0);
        }
        close(ready[1]);
        char locked = 0;
        QCOMPARE(read(ready[0], &locked, 1), ssize_t(1));
        close(ready[0]);
        QCOMPARE(locked, 'l');
        f().errors.clear();
        f().InsertGreats("ABSOLUTE", QStringLiteral("8"));
        QCOMPARE(f().errors, QStringList({"Scores.txt could not be saved: Another window kept it locked."}));
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("8"));
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
#endif

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
        QCOMPARE(f().errors.value(1), QStringLiteral("Scores.txt could not be saved: %1.").arg(reason));
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
        QCOMPARE(f().dir().entries(), entries);
        if (!bytes.isEmpty())
            QCOMPARE(ReadBytes(ScoreFileName), bytes);
    }
};

QTEST_MAIN(TestWindowSharedFile)
#include "tst_window_shared_file.moc"
