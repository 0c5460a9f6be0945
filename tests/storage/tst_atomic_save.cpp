#include <cerrno>
#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QtTest>

#include "chart_fixture.h"
#include "score_file.h"

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
