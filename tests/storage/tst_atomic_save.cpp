#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include "chart_fixture.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"
#include "unprivileged.h"

// Limits the size of any file this process writes, the way a full disk would, so that the
// save fails in the middle of its text.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

class TestAtomicSave : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }
    QByteArray oldFile_;

private slots:
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        Score(Chart("ABSOLUTE"), 10, 6, 9, 2005);
        QVERIFY(SaveScoreFile());
        oldFile_ = ReadBytes(ScoreFileName);
        Score(Chart("ABSOLUTE"), 3, 7, 9, 2005);
    }

    void cleanup() { fixture_.reset(); }

    void successLeavesOnlyTheNewFile()
    {
        QVERIFY(SaveScoreFile());
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
        QVERIFY(ReadBytes(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

    void failureInTheMiddleOfTheWriteKeepsTheOldFile()
    {
        int error = 0;
        bool saved = true;
        {
            ScopedFileSizeLimit limit(oldFile_.size() / 2);
            saved = SaveScoreFile(&error);
        }
        QVERIFY(!saved);
        QCOMPARE(error, EFBIG);
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
        // the next save, with room again, goes through
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadBytes(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

    void failedRenameKeepsTheOldFile()
    {
        // a directory in the way of the temporary: it cannot be created
        QVERIFY(QDir().mkdir("Scores.txt.tmp"));
        int error = 0;
        QVERIFY(!SaveScoreFile(&error));
        QVERIFY(error != 0);
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
    }

    void targetThatCannotBeReplacedIsReported()
    {
        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(QDir().mkdir(ScoreFileName));
        int error = 0;
        QVERIFY(!SaveScoreFile(&error));
        QCOMPARE(error, EISDIR);
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
    }

    void staleTemporaryDoesNotTripTheNextSave()
    {
        QVERIFY(WriteBytes("Scores.txt.tmp", "half a file from a killed run\n"));
        QVERIFY(SaveScoreFile());
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));

        // nor does a link planted under the temporary's name: it is replaced, not followed
        QVERIFY(WriteBytes("elsewhere.txt", "keep me\n"));
        QVERIFY(QFile::link("elsewhere.txt", "Scores.txt.tmp"));
        QVERIFY(SaveScoreFile());
        QCOMPARE(ReadBytes("elsewhere.txt"), QByteArray("keep me\n"));
        QVERIFY(!QFile::exists("Scores.txt.tmp"));
    }

    void readOnlyFilesAreLeftAsTheyWere()
    {
        QVERIFY(WriteBytes(PrintFileName, "an old listing\n"));
        for (const char *name : {ScoreFileName, PrintFileName})
            QVERIFY(chmod(name, 0444) == 0);
        ChartOrder *order = &f().order;
        const int refused = RunAsUnprivileged(f().dir.path(), [order] {
            int error = 0;
            const bool saved = SaveScoreFile(&error);
            WritePrintFile(order);
            return !saved && error == EACCES ? 1 : 0;
        });
        QCOMPARE(refused, 1);
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(ReadBytes(PrintFileName), QByteArray("an old listing\n"));
        QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt", "Scores.txt"}));
    }

    void symbolicLinkIsWrittenThrough()
    {
        QVERIFY(QDir().mkdir("synced"));
        QVERIFY(QFile::rename(ScoreFileName, "synced/Scores.txt"));
        QVERIFY(QFile::link("synced/Scores.txt", ScoreFileName));
        QVERIFY(SaveScoreFile());
        QCOMPARE(QFileInfo(ScoreFileName).symLinkTarget(), QFileInfo("synced/Scores.txt").absoluteFilePath());
        QVERIFY(ReadBytes("synced/Scores.txt").contains("\nABSOLUTE\n07/09/2005\n3\n"));
        QCOMPARE(QDir("synced").entryList(QDir::Files | QDir::Hidden), QStringList({"Scores.txt"}));
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt", "synced"}));
    }

    void folderThatRefusesNewFilesRewritesTheFileInPlace()
    {
        QVERIFY(chmod(ScoreFileName, 0666) == 0);
        struct stat before;
        QVERIFY(stat(ScoreFileName, &before) == 0);
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [] { return SaveScoreFile() ? 1 : 0; }, 0555), 1);
        const QByteArray inPlace = ReadBytes(ScoreFileName);
        struct stat after;
        QVERIFY(stat(ScoreFileName, &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
        // byte for byte what the atomic save writes, one byte shorter than before ("3", not "10")
        QVERIFY(SaveScoreFile());
        QCOMPARE(inPlace, ReadBytes(ScoreFileName));
        QCOMPARE(inPlace.size(), oldFile_.size() - 1);

        // with no file to rewrite, nothing can be saved there
        QVERIFY(QFile::remove(ScoreFileName));
        const int refused = RunAsUnprivileged(f().dir.path(), [] {
            int error = 0;
            return !SaveScoreFile(&error) && error == EACCES ? 1 : 0;
        }, 0555);
        QCOMPARE(refused, 1);
        QVERIFY(f().dir.entries().isEmpty());
    }

    void lockKeepsOthersWaitingAndDiesWithItsProcess()
    {
        int ready[2];
        QVERIFY(pipe2(ready, O_CLOEXEC) == 0);
        pid_t holder = fork();
        if (holder == 0) {
            ScoreFileLock lock;
            if (write(ready[1], lock.Busy() ? "b" : "l", 1) == 1)
                pause();
            _exit(0);
        }
        close(ready[1]);
        char answer = 0;
        QCOMPARE(read(ready[0], &answer, 1), ssize_t(1));
        close(ready[0]);
        QCOMPARE(answer, 'l');

        QElapsedTimer waited;
        waited.start();
        const bool busy = ScoreFileLock().Busy();
        const qint64 milliseconds = waited.elapsed();
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        QVERIFY(busy);
        QVERIFY2(milliseconds >= 900 && milliseconds < 5000, QByteArray::number(milliseconds));

        waited.restart();
        QVERIFY(!ScoreFileLock().Busy());  // the kernel dropped it with the killed holder
        QVERIFY(waited.elapsed() < 500);
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
    }

    void permissionsOfTheScoreFileAreKept()
    {
        QVERIFY(chmod(ScoreFileName, 0600) == 0);
        QVERIFY(SaveScoreFile());
        struct stat info;
        QVERIFY(stat(ScoreFileName, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }
};

QTEST_GUILESS_MAIN(TestAtomicSave)
#include "tst_atomic_save.moc"
