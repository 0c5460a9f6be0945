// The end of a session with another window of the program on the same Scores.txt: a signal, a
// write the system refuses by a signal, and the toolkit's exit(), each with or without a score
// left unsaved.
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/ioctl.h>
#endif
#include <unistd.h>

#include <QElapsedTimer>

#include "lock_holder.h"
#include "other_window.h"
#include "print_file.h"

class TestWindowSessionEnd : public QObject, public SharedFileFixture {
    Q_OBJECT

private slots:
    void init() { StartTest(); }
    void cleanup() { EndTest(); }

#ifndef _WIN32
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
};

QTEST_MAIN(TestWindowSessionEnd)
#include "tst_window_session_end.moc"
