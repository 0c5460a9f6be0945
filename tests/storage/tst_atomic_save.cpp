#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "unprivileged.h"
#endif

#include <QProcess>
#include <QtTest>

#include "chart_fixture.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"

// Another window holding the lock, in a process of its own, in the given folder.
class LockHolder {
public:
    explicit LockHolder(const QString &folder)
    {
        process_.start(QStringLiteral(BRISKO_LOCK_HOLDER), {folder});
        if (process_.waitForStarted())
            while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
            }
    }
    ~LockHolder() { Kill(); }

    QByteArray Answer() { return process_.readLine().trimmed(); }

    // As a crash would end it: the system must drop the lock with it.
    void Kill()
    {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

#ifndef _WIN32
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
#endif

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
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

#ifndef _WIN32
    void failureInTheMiddleOfTheWriteKeepsTheOldFile()
    {
        SaveFailure failure;
        bool saved = true;
        {
            ScopedFileSizeLimit limit(oldFile_.size() / 2);
            saved = SaveScoreFile(&failure);
        }
        QVERIFY(!saved);
        QCOMPARE(failure.error, EFBIG);
        QCOMPARE(QByteArray(failure.reason), QByteArray("File too large"));
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
        // the next save, with room again, goes through
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadBytes(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

#endif

    // Names beside the file that look like a temporary are someone else's: never followed,
    // written or removed, and never in the way.
    void temporaryIsOurOwn()
    {
        QVERIFY(QDir().mkdir("Scores.txt.tmp"));
        QVERIFY(WriteBytes("Scores.txt.tmp-keep", "keep me\n"));
        QVERIFY(SaveScoreFile());
        QCOMPARE(ReadBytes("Scores.txt.tmp-keep"), QByteArray("keep me\n"));
        QVERIFY(QFileInfo("Scores.txt.tmp").isDir());
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt", "Scores.txt.tmp", "Scores.txt.tmp-keep"}));
#ifndef _WIN32
        QVERIFY(WriteBytes("notes", oldFile_));
        QVERIFY(WriteBytes("notes.tmp", "keep me\n"));
        QVERIFY(QFile::link("notes", "linked.txt"));
        AtomicFileWriter writer("linked.txt", SpecialTarget::Refuse);
        writer.Print("new notes\n");
        QVERIFY(writer.Commit());
        QCOMPARE(ReadBytes("notes"), QByteArray("new notes\n"));
        QCOMPARE(ReadBytes("notes.tmp"), QByteArray("keep me\n"));
        QVERIFY(QFileInfo("linked.txt").isSymLink());
#endif

        // a folder where the temporary cannot be made is named, not the healthy file
        AtomicFileWriter elsewhere("gone/Scores.txt", SpecialTarget::Refuse);
        SaveFailure failure;
        QVERIFY(!elsewhere.Commit(&failure));
        QCOMPARE(failure.error, ENOENT);
        QCOMPARE(QByteArray(failure.reason), QByteArray("No temporary file could be made in gone: No such file or directory"));
#ifndef _WIN32
        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(QFile::link("gone/Scores.txt", ScoreFileName));
        QVERIFY(!SaveScoreFile(&failure));
        QCOMPARE(QByteArray(failure.reason), QByteArray("No temporary file could be made in gone: No such file or directory"));
        QCOMPARE(QFile::symLinkTarget(ScoreFileName), f().dir.filePath("gone/Scores.txt"));
#endif
    }

    void targetThatCannotBeReplacedIsReported()
    {
        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(QDir().mkdir(ScoreFileName));
        SaveFailure failure;
        QVERIFY(!SaveScoreFile(&failure));
        QCOMPARE(QByteArray(failure.reason), QByteArray("Is a directory"));
        QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
    }

    // Replacing a file takes only the right to write its folder, so a file made read-only is
    // refused before anything else happens.
    void readOnlyFilesAreLeftAsTheyWere()
    {
        QVERIFY(WriteBytes(PrintFileName, "an old listing\n"));
        ChartOrder *order = &f().order;
        const auto refused = [order] {
            SaveFailure saveFailure, printFailure;
            const bool saved = SaveScoreFile(&saveFailure);
            const bool printed = WritePrintFile(order, &printFailure);
            return !saved && !printed && saveFailure.error == EACCES && printFailure.error == EACCES ? 1 : 0;
        };
#ifdef _WIN32
        for (const wchar_t *name : {L"Scores.txt", L"OutPrint.txt"})
            QVERIFY(SetFileAttributesW(name, FILE_ATTRIBUTE_READONLY));
        QCOMPARE(refused(), 1);
        for (const wchar_t *name : {L"Scores.txt", L"OutPrint.txt"})
            QVERIFY(SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL));
#else
        for (const char *name : {ScoreFileName, PrintFileName})
            QVERIFY(chmod(name, 0444) == 0);
        QCOMPARE(RunAsUnprivileged(f().dir.path(), refused), 1);
#endif
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(ReadBytes(PrintFileName), QByteArray("an old listing\n"));
        QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt", "Scores.txt"}));
    }

#ifndef _WIN32
    // Links are followed, also to a file not made yet, and stay links; relative ones are read
    // from the folder they lie in.
    void symbolicLinkIsWrittenThrough()
    {
        QVERIFY(QDir().mkpath("synced/deeper"));
        QVERIFY(QFile::rename(ScoreFileName, "synced/Scores.txt"));
        QVERIFY(QFile::link("synced/Scores.txt", ScoreFileName));
        QVERIFY(SaveScoreFile());
        QCOMPARE(QFileInfo(ScoreFileName).symLinkTarget(), QFileInfo("synced/Scores.txt").absoluteFilePath());
        QVERIFY(ReadBytes("synced/Scores.txt").contains("\nABSOLUTE\n07/09/2005\n3\n"));
        QCOMPARE(QDir("synced").entryList(QDir::Files | QDir::Hidden), QStringList({"Scores.txt"}));

        // a chain of relative links to a file that does not exist yet
        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(symlink("synced/hop", ScoreFileName) == 0);
        QVERIFY(symlink("deeper/new.txt", "synced/hop") == 0);
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadBytes("synced/deeper/new.txt").contains("\nABSOLUTE\n07/09/2005\n3\n"));
        QVERIFY(QFileInfo(ScoreFileName).isSymLink() && QFileInfo("synced/hop").isSymLink());
        char folder[PATH_MAX];
        FolderWrittenBy(ScoreFileName, folder);
        QCOMPARE(QByteArray(folder), QByteArray("synced/deeper"));
    }

    // Where the temporary cannot be made the file is rewritten in place, but only once room for
    // the whole text is reserved: a full disk leaves both files as they were, and says so.
    void folderThatRefusesNewFilesRewritesTheFileInPlace()
    {
        QVERIFY(WriteBytes(PrintFileName, "an old listing\n"));
        for (const char *name : {ScoreFileName, PrintFileName})
            QVERIFY(chmod(name, 0666) == 0);
        ChartOrder *order = &f().order;
        const int fullDisk = RunAsUnprivileged(f().dir.path(), [order] {
            ScopedFileSizeLimit limit(4096);
            SaveFailure saveFailure, printFailure;
            const bool saved = SaveScoreFile(&saveFailure);
            const bool printed = WritePrintFile(order, &printFailure);
            return !saved && !printed && saveFailure.error == EFBIG && printFailure.error == EFBIG ? 1 : 0;
        }, 0555);
        QCOMPARE(fullDisk, 1);
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(ReadBytes(PrintFileName), QByteArray("an old listing\n"));

        struct stat before;
        QVERIFY(stat(ScoreFileName, &before) == 0);
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [] { return SaveScoreFile() ? 1 : 0; }, 0555), 1);
        const QByteArray inPlace = ReadBytes(ScoreFileName);
        struct stat after;
        QVERIFY(stat(ScoreFileName, &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt", "Scores.txt"}));
        // byte for byte what the atomic save writes, one byte shorter than before ("3", not "10")
        QVERIFY(SaveScoreFile());
        QCOMPARE(inPlace, ReadBytes(ScoreFileName));
        QCOMPARE(inPlace.size(), oldFile_.size() - 1);

        // with no file to rewrite, nothing can be saved there
        QVERIFY(QFile::remove(ScoreFileName));
        const int refused = RunAsUnprivileged(f().dir.path(), [] {
            SaveFailure failure;
            return !SaveScoreFile(&failure) && failure.error == EACCES ? 1 : 0;
        }, 0555);
        QCOMPARE(refused, 1);
        QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt"}));
    }

#endif

    // The lock is the folder's where the file really lies: a window beside a link to it meets a
    // window in that folder. A holder that is killed takes the lock with it.
    void lockKeepsOthersWaitingAndDiesWithItsProcess()
    {
        QVERIFY(QDir().mkdir("shared"));
        QVERIFY(QFile::rename(ScoreFileName, "shared/Scores.txt"));
#ifdef _WIN32
        QVERIFY(QDir::setCurrent("shared"));  // Windows links are not followed here: meet in the folder
#else
        QVERIFY(QFile::link("shared/Scores.txt", ScoreFileName));
#endif
        LockHolder holder(f().dir.filePath("shared"));
        QCOMPARE(holder.Answer(), QByteArray("held"));

        QElapsedTimer waited;
        waited.start();
        const bool busy = ScoreFileLock().Busy();
        const qint64 milliseconds = waited.elapsed();
        holder.Kill();
        QVERIFY(busy);
        QVERIFY2(milliseconds >= 900 && milliseconds < 5000, QByteArray::number(milliseconds));

        waited.restart();
        QVERIFY(!ScoreFileLock().Busy());
        QVERIFY(waited.elapsed() < 500);
        QVERIFY(QDir::setCurrent(f().dir.path()));
        QCOMPARE(QDir("shared").entryList(QDir::Files | QDir::Hidden), QStringList({"Scores.txt"}));
    }

#ifndef _WIN32
    void permissionsOfTheScoreFileAreKept()
    {
        QVERIFY(chmod(ScoreFileName, 0600) == 0);
        QVERIFY(SaveScoreFile());
        struct stat info;
        QVERIFY(stat(ScoreFileName, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
    }
#endif
};

QTEST_GUILESS_MAIN(TestAtomicSave)
#include "tst_atomic_save.moc"
