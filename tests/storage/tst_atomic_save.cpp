#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unprivileged.h"
#endif

#include <QProcess>
#include <QtTest>

#include "chart_fixture.h"
#include "in_child.h"
#include "lock_holder.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"

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

        // a folder where the temporary cannot be made is named by its full path, not the file
        AtomicFileWriter elsewhere("gone/Scores.txt", SpecialTarget::Refuse);
        SaveFailure failure;
        QVERIFY(!elsewhere.Commit(&failure));
        QCOMPARE(failure.error, ENOENT);
        const QByteArray gone = "No temporary file could be made in " +
                                QDir::toNativeSeparators(QDir::current().absoluteFilePath("gone")).toLocal8Bit() +
                                ": No such file or directory";
        QCOMPARE(QByteArray(failure.reason), gone);
#ifndef _WIN32
        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(QFile::link("gone/Scores.txt", ScoreFileName));
        QVERIFY(!SaveScoreFile(&failure));
        QCOMPARE(QByteArray(failure.reason), gone);
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
        QCOMPARE(refused(), 1);  // the mode decides for root as well
        QVERIFY(chmod(ScoreFileName, 0464) == 0);  // its owner has taken away their own right
        SaveFailure failure;
        QVERIFY(!SaveScoreFile(&failure) && failure.error == EACCES);
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
#ifndef _WIN32
        // a folder the player may not read cannot be locked: that is said, never skipped
        const QByteArray refusal = "The folder " + QFile::encodeName(f().dir.path()) +
                                   " could not be locked against other windows: Permission denied";
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [&refusal] {
                     const ScoreFileLock lock;
                     return lock.Refusal() != nullptr && refusal == lock.Refusal() ? 1 : 0;
                 }, 0300), 1);
#endif
    }

#ifndef _WIN32
    // What real folders do to a save: another owner's file in a shared or sticky folder keeps
    // its owner, group and mode, rewritten in place; a fresh ramfs, a full tmpfs and a FAT image
    // each mounted in a namespace of a child. A rewrite that fails is undone, byte for byte.
    void everyRealFolderKeepsTheScores_data()
    {
        QTest::addColumn<QByteArray>("fileSystem");  // empty: the test's own folder
        QTest::addColumn<int>("folderMode");         // the folder as "nobody" saves in it; 0: root saves
        QTest::addColumn<int>("sizeLimit");          // 0: none
        QTest::addColumn<int>("error");              // 0: saved
        QTest::newRow("folder shared through a group: another owner's file") << QByteArray() << 0777 << 0 << 0;
        QTest::newRow("sticky folder: another user's file") << QByteArray() << 01777 << 0 << 0;
        QTest::newRow("ramfs: the C library reserves room by reading") << QByteArray("ramfs") << 0555 << 0 << 0;
        QTest::newRow("ramfs: a reservation cut short is undone") << QByteArray("ramfs") << 0555 << 8192 << EFBIG;
        QTest::newRow("full tmpfs, rewritten in place") << QByteArray("tmpfs") << 0555 << 0 << ENOSPC;
        QTest::newRow("full tmpfs, through a temporary") << QByteArray("tmpfs") << 0 << 0 << ENOSPC;
        QTest::newRow("FAT through FUSE: no mode at all") << QByteArray("fusefat") << 0 << 0 << 0;
    }

    void everyRealFolderKeepsTheScores()
    {
        QFETCH(QByteArray, fileSystem);
        QFETCH(int, folderMode);
        QFETCH(int, sizeLimit);
        QFETCH(int, error);
        if (geteuid() != 0)
            QSKIP("another user's file and a file system of the test's own take root");
        if (fileSystem == "fusefat" && (QStandardPaths::findExecutable(QStringLiteral("fusefat")).isEmpty() ||
                                        QProcess::execute(QStringLiteral("mkfs.vfat"), {"-C", "fat.img", "1024"}) != 0))
            QSKIP("the FAT image takes mkfs.vfat (dosfstools) and fusefat; they are not installed");
        QVERIFY(QDir().mkdir("mnt"));
        const QString folder = f().dir.filePath("mnt");
        const QByteArray old = ScoreRecord("ABSOLUTE", "06/09/2005", 10);
        const QByteArray problem = InChild(fileSystem, [&]() -> QByteArray {
            if (chdir("mnt") != 0)
                return "no folder";
            if (fileSystem == "tmpfs" && !WriteBytes("filler", QByteArray(14 * 4096, 'x')))
                return "no filler";
            const bool firstSave = fileSystem == "fusefat";
            if (!firstSave && (!WriteBytes(ScoreFileName, old) || chmod(ScoreFileName, 0666) != 0))
                return "no old file";
            struct stat before {};
            stat(ScoreFileName, &before);
            const auto save = [sizeLimit] {
                std::unique_ptr<ScopedFileSizeLimit> limit;
                if (sizeLimit > 0)
                    limit = std::make_unique<ScopedFileSizeLimit>(rlim_t(sizeLimit));
                SaveFailure failure;
                return SaveScoreFile(&failure) ? 0 : failure.error;
            };
            const int got = folderMode == 0 ? save() : RunAsUnprivileged(folder, save, mode_t(folderMode));
            if (got != error)
                return "the save gave " + QByteArray(std::strerror(got));
            if (!QDir().entryList({"Scores.txt.tmp-*"}, QDir::Files | QDir::Hidden).isEmpty())
                return "a temporary was left";
            const QByteArray now = ReadBytes(ScoreFileName);
            if (error != 0)
                return now == old ? QByteArray() : "the old file changed: " + now.left(64).toPercentEncoding();
            if (!now.contains("\nABSOLUTE\n07/09/2005\n3\n"))
                return "the new text is not there";
            struct stat after {};
            stat(ScoreFileName, &after);
            if (!firstSave && (after.st_uid != before.st_uid || after.st_gid != before.st_gid ||
                               after.st_mode != before.st_mode || after.st_ino != before.st_ino))
                return "owner, group, mode or file changed";
            return firstSave && !SaveScoreFile() ? "the second save failed" : "";
        });
        if (problem.startsWith("skip: "))
            QSKIP(problem.mid(6).constData());  // a chroot or container that allows no mounts of its own
        QVERIFY2(problem.isEmpty(), problem.constData());
    }

#endif

    void permissionsOfTheScoreFileAreKept()
    {
#ifdef _WIN32
        QVERIFY(SetFileAttributesW(L"Scores.txt", FILE_ATTRIBUTE_HIDDEN));
        QVERIFY(SaveScoreFile());
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_HIDDEN) != 0);
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
#else
        QVERIFY(chmod(ScoreFileName, 0600) == 0);
        QVERIFY(SaveScoreFile());
        struct stat info;
        QVERIFY(stat(ScoreFileName, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
#endif
    }

#ifdef _WIN32
    // A folder named outside the system's code page is locked by its own name, and a link whose
    // target is not made yet stays a link while the save makes the target, as on other systems.
    void wideNamesAndDanglingLinks()
    {
        const QString folder = QStringLiteral("\u30b9\u30b3\u30a2");  // Katakana: in no Western code page
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QDir::setCurrent(folder));
        {
            const ScoreFileLock lock;
            QVERIFY2(lock.Refusal() == nullptr, lock.Refusal());
            LockHolder other(QDir::currentPath());
            QCOMPARE(other.Answer(), QByteArray("busy"));
        }
        QVERIFY(SaveScoreFile());
        QVERIFY(QDir::setCurrent(f().dir.path()));
        QVERIFY(QFile::exists(folder + QStringLiteral("/Scores.txt")));

        QVERIFY(QFile::remove(ScoreFileName) && QDir().mkdir("synced"));
        if (!CreateSymbolicLinkW(L"Scores.txt", L"synced\\new.txt", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
            GetFileAttributesW(L"Scores.txt") == INVALID_FILE_ATTRIBUTES)
            QSKIP("the system makes no symbolic link here (wine 8 answers yes and makes none)");
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadText("synced/new.txt").contains("\nABSOLUTE\n07/09/2005\n3\n"));
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    }
#endif
};

QTEST_GUILESS_MAIN(TestAtomicSave)
#include "tst_atomic_save.moc"
