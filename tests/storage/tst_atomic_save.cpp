#include "tst_atomic_save.h"

#include <cerrno>

#include <QtTest>

#include "lock_holder.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"

QByteArray NoTemporaryIn(const QString &folder)
{
    return "No temporary file could be made in " +
           QDir::toNativeSeparators(QDir::current().absoluteFilePath(folder)).toLocal8Bit() + ": No such file or directory";
}

void AtomicSaveRows::successLeavesOnlyTheNewFile()
{
    QVERIFY(SaveScoreFile());
    QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
    QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
}

// Names beside the file that look like a temporary are someone else's: never followed,
// written or removed, and never in the way.
void AtomicSaveRows::temporaryIsOurOwn()
{
    QVERIFY(QDir().mkdir("Scores.txt.tmp"));
    QVERIFY(WriteBytes("Scores.txt.tmp-keep", "keep me\n"));
    QVERIFY(SaveScoreFile());
    QCOMPARE(ReadBytes("Scores.txt.tmp-keep"), QByteArray("keep me\n"));
    QVERIFY(QFileInfo("Scores.txt.tmp").isDir());
    QCOMPARE(f().dir.entries(), QStringList({"Scores.txt", "Scores.txt.tmp", "Scores.txt.tmp-keep"}));

    // a folder where the temporary cannot be made is named by its full path, not the file
    AtomicFileWriter elsewhere("gone/Scores.txt", SpecialTarget::Refuse);
    SaveFailure failure;
    QVERIFY(!elsewhere.Commit(&failure));
    QCOMPARE(failure.error, ENOENT);
    QCOMPARE(QByteArray(failure.reason), NoTemporaryIn("gone"));
}

void AtomicSaveRows::targetThatCannotBeReplacedIsReported()
{
    QVERIFY(QFile::remove(ScoreFileName));
    QVERIFY(QDir().mkdir(ScoreFileName));
    SaveFailure failure;
    QVERIFY(!SaveScoreFile(&failure));
    QCOMPARE(QByteArray(failure.reason), QByteArray("Is a directory"));
    QCOMPARE(f().dir.entries(), QStringList({"Scores.txt"}));
}

// Replacing a file takes only the right to write its folder, so a file made read-only is
// refused before anything else happens; the mode decides for root as well.
void AtomicSaveRows::readOnlyFilesAreLeftAsTheyWere()
{
    QVERIFY(WriteBytes(PrintFileName, "an old listing\n"));
    for (const char *name : {ScoreFileName, PrintFileName})
        QVERIFY(MakeReadOnly(name, true));
    QCOMPARE(SaveAndPrintRefused(), 1);
    for (const char *name : {ScoreFileName, PrintFileName})
        QVERIFY(MakeReadOnly(name, false));
    QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
    QCOMPARE(ReadBytes(PrintFileName), QByteArray("an old listing\n"));
    QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt", "Scores.txt"}));
}

// The lock is the folder's where the file really lies: a window beside a link to it meets a
// window in that folder. A holder that is killed takes the lock with it.
void AtomicSaveRows::lockKeepsOthersWaitingAndDiesWithItsProcess()
{
    QVERIFY(QDir().mkdir("shared"));
    QVERIFY(QFile::rename(ScoreFileName, "shared/Scores.txt"));
    QVERIFY(ReachScoreFileIn("shared"));
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
    {
        // a second lock of this process is refused at once, on every system, and lets the first be
        const ScoreFileLock held;
        waited.restart();
        const auto nested = std::make_unique<ScoreFileLock>();
        QVERIFY(waited.elapsed() < 500 && !nested->Busy());
        QCOMPARE(QByteArray(nested->Refusal()), "This window holds the lock against other windows already");
        QVERIFY(held.Refusal() == nullptr);
    }
    QVERIFY(ScoreFileLock().Refusal() == nullptr);
    QVERIFY(QDir::setCurrent(f().dir.path()));
    QCOMPARE(QDir("shared").entryList(QDir::Files | QDir::Hidden), QStringList({"Scores.txt"}));
}
