#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "play_journal.h"
#include "unprivileged.h"
#include "writer_seams.h"
#endif

#include <QProcess>
#include <QtTest>

#include "chart_fixture.h"
#include "in_child.h"
#include "lock_holder.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"

#ifndef _WIN32
// Puts calls of its own in the writer's place for as long as it lives: a rename or a sync that
// fails with the given errno, or a temporary (but no other file) that cannot be made.
class ScopedWriterFault {
public:
    ScopedWriterFault(const QByteArray &call, int error) : saved_(writerSeams)
    {
        injected = error;
        if (call == "rename")
            writerSeams.rename = [](const char *, const char *) { return errno = injected, -1; };
        if (call == "sync")
            writerSeams.syncFolder = [](int) { return errno = injected, -1; };
        if (call == "temporary")
            writerSeams.makeTemporary = [](char *name, int flags) {
                return std::strstr(name, ".tmp-") != nullptr ? (errno = injected, -1) : mkostemp(name, flags);
            };
    }
    ~ScopedWriterFault() { writerSeams = saved_; }

private:
    static inline int injected = 0;
    WriterSeams saved_;
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
        QTest::newRow("a file bind-mounted over it: rewritten in place, twice") << QByteArray("tmpfs+bind") << 0 << 0 << 0;
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
        const bool bind = fileSystem.endsWith("+bind");
        const QByteArray problem = InChild(bind ? QByteArray("tmpfs") : fileSystem, [&]() -> QByteArray {
            if (chdir("mnt") != 0)
                return "no folder";
            if (fileSystem == "tmpfs" && !WriteBytes("filler", QByteArray(14 * 4096, 'x')))
                return "no filler";
            const bool firstSave = fileSystem == "fusefat";
            if (!firstSave && (!WriteBytes(ScoreFileName, old) || chmod(ScoreFileName, 0666) != 0))
                return "no old file";
            if (bind && (!WriteBytes("mounted", old) || mount("mounted", ScoreFileName, nullptr, MS_BIND, nullptr) != 0))
                return "skip: no file can be bind-mounted here";
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
            Score(Chart("ABSOLUTE"), 2, 8, 9, 2005);
            if ((firstSave || bind) && !SaveScoreFile())
                return "the second save failed";
            return bind && !ReadBytes("mounted").contains("\nABSOLUTE\n08/09/2005\n2\n") ? "the mounted file missed it" : "";
        });
        if (problem.startsWith("skip: "))
            QSKIP(problem.mid(6).constData());  // a chroot or container that allows no mounts of its own
        QVERIFY2(problem.isEmpty(), problem.constData());
    }

#endif

    void permissionsOfTheScoreFileAreKept()
    {
#ifdef _WIN32
        QVERIFY(SetFileAttributesW(L"Scores.txt", FILE_ATTRIBUTE_HIDDEN));  // and no archive attribute
        QVERIFY(SaveScoreFile());
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_HIDDEN) != 0);
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_ARCHIVE) != 0);  // for xcopy /m
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
#else
        QVERIFY(chmod(ScoreFileName, 0600) == 0);
        QVERIFY(SaveScoreFile());
        struct stat info;
        QVERIFY(stat(ScoreFileName, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
#endif
    }

#ifndef _WIN32
    // Where a replace cannot serve, the file itself is rewritten, at every save. Its old text is
    // kept beside it until the new one is on the disk: there when the check is asked, and gone
    // once the check said no.
    void fileThatCannotBeReplacedIsRewrittenInPlace_data()
    {
        QTest::addColumn<QByteArray>("call");  // the seam that fails, or how the file is set up
        QTest::addColumn<int>("error");
        QTest::newRow("rename refused: a file mounted there") << QByteArray("rename") << EBUSY;
        QTest::newRow("rename refused: mounted from another file system") << QByteArray("rename") << EXDEV;
        QTest::newRow("no free inode for the temporary") << QByteArray("temporary") << ENOSPC;
        QTest::newRow("a name too long for the temporary's suffix") << QByteArray("long name") << 0;
        QTest::newRow("a second name, a hard link, sees both saves") << QByteArray("hard link") << 0;
    }

    void fileThatCannotBeReplacedIsRewrittenInPlace()
    {
        QFETCH(QByteArray, call);
        QFETCH(int, error);
        const QByteArray other = call == "long name" ? QByteArray(250, 'n') : QByteArray("other name");
        if (call == "long name")
            QVERIFY(rename(ScoreFileName, other.constData()) == 0 && symlink(other.constData(), ScoreFileName) == 0);
        if (call == "hard link")
            QVERIFY(link(ScoreFileName, other.constData()) == 0);
        const ScopedWriterFault fault(call, error);
        struct stat before, after;
        QVERIFY(stat(ScoreFileName, &before) == 0);
        QVERIFY(SaveScoreFile());
        Score(Chart("ABSOLUTE"), 2, 8, 9, 2005);
        QVERIFY(SaveScoreFile());
        QVERIFY(stat(ScoreFileName, &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        const QByteArray saved = ReadBytes(ScoreFileName);
        QVERIFY(saved.contains("\nABSOLUTE\n08/09/2005\n2\n"));
        if (QFileInfo::exists(QString::fromLatin1(other)))
            QCOMPARE(ReadBytes(other.constData()), saved);

        struct Seen {
            QByteArray copy;
        } seen;
        const ReplaceCheck check{[](void *context) {
                                     const QStringList copies = QDir().entryList({"*.old-*"}, QDir::Files);
                                     if (copies.size() == 1)
                                         static_cast<Seen *>(context)->copy = ReadBytes(copies[0].toLocal8Bit());
                                     return copies.isEmpty();  // asked before the rename, too, where one is tried
                                 },
                                 &seen};
        SaveFailure failure;
        QVERIFY(!WriteWholeFile(ScoreFileName, "new\n", 4, SpecialTarget::Refuse, &failure, check));
        QVERIFY(failure.changedMeanwhile);
        QCOMPARE(seen.copy, saved);
        QCOMPARE(ReadBytes(ScoreFileName), saved);
        QCOMPARE(f().dir.entries().size(), QFileInfo::exists(QString::fromLatin1(other)) ? 2 : 1);
    }

    // A save keeps the ACL and the other extended attributes; the owning group that the ACL let
    // only read (its mode's group bits are the ACL's mask) cannot write after a save either.
    void attributesAndAclGoWithTheFile()
    {
        const QByteArray tag = "kept by the save";
        if (setxattr(ScoreFileName, "user.brisko.test", tag.constData(), size_t(tag.size()), 0) != 0)
            QSKIP("this file system keeps no extended attributes of a user's");
        // version 2, then tag | permissions << 16 and id: the owner rw, the user daemon rw, the
        // owning group r, the mask rw, others nothing
        const uint32_t none = 0xFFFFFFFF;
        const uint32_t acl[] = {2, 0x01 | 6 << 16, none, 0x02 | 6 << 16, 1, 0x04 | 4 << 16, none, 0x10 | 6 << 16, none,
                                0x20, none};
        if (setxattr(ScoreFileName, "system.posix_acl_access", acl, sizeof acl, 0) != 0)
            QSKIP("this file system keeps no POSIX ACL");
        if (geteuid() == 0)
            QVERIFY(chown(ScoreFileName, 0, 65534) == 0);  // the owning group is nobody's: nogroup
        QByteArray aclBefore(64, 0), aclAfter(64, 0), tagAfter(64, 0);
        aclBefore.resize(int(getxattr(ScoreFileName, "system.posix_acl_access", aclBefore.data(), 64)));
        struct stat before, after;
        QVERIFY(stat(ScoreFileName, &before) == 0);
        QVERIFY(SaveScoreFile());
        QVERIFY(stat(ScoreFileName, &after) == 0);
        aclAfter.resize(int(getxattr(ScoreFileName, "system.posix_acl_access", aclAfter.data(), 64)));
        tagAfter.resize(int(getxattr(ScoreFileName, "user.brisko.test", tagAfter.data(), 64)));
        QCOMPARE(aclAfter, aclBefore);
        QCOMPARE(tagAfter, tag);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_gid, before.st_gid);
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
        if (geteuid() == 0)
            QCOMPARE(RunAsUnprivileged(f().dir.path(), [] {
                         const int fd = open(ScoreFileName, O_WRONLY);
                         return fd < 0 && errno == EACCES ? 1 : (close(fd), 0);
                     }), 1);
    }

    // What a save says after the fact is true: a folder whose sync failed, a folder removed
    // (named as it was at the last read), a file made under a umask that leaves its owner no
    // right to write it (the next save and append go through all the same).
    void messagesAndModesTellTheTruth()
    {
        SaveFailure failure;
        {
            const ScopedWriterFault fault("sync", EIO);
            QVERIFY(!SaveScoreFile(&failure));
        }
        QCOMPARE(QByteArray(failure.reason), "The new text is in place, but the folder " + QFile::encodeName(f().dir.path()) +
                                                 " could not be synced (Input/output error): it may not survive a crash");
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));

        QVERIFY(QDir().mkdir("removed") && QDir::setCurrent("removed"));
        LoadScoreFile();
        QVERIFY(rmdir(QFile::encodeName(f().dir.filePath("removed")).constData()) == 0);
        QVERIFY(!SaveScoreFile(&failure));
        QCOMPARE(QByteArray(failure.reason), "No temporary file could be made in " +
                                                 QFile::encodeName(f().dir.filePath("removed")) + ": No such file or directory");
        QVERIFY(QDir::setCurrent(f().dir.path()));

        QVERIFY(QFile::remove(ScoreFileName));
        const mode_t mask = umask(0222);
        const bool saved = SaveScoreFile() && SaveScoreFile();
        const bool appended = AppendPlayLines("a\n", 2, nullptr) && AppendPlayLines("b\n", 2, nullptr);
        umask(mask);
        QVERIFY(saved && appended);
        for (const char *name : {ScoreFileName, PlayJournalName}) {
            struct stat info;
            QVERIFY(stat(name, &info) == 0);
            QCOMPARE(int(info.st_mode & 0777), 0644);
        }
    }

    // No file of the program writes over another: the print file and the journal never reach
    // the score file, and the score file never the print file it is a link to.
    void noFileOfTheProgramWritesOverAnother_data()
    {
        QTest::addColumn<QByteArray>("link");    // made a symbolic link to the next
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("reason");  // of the refusal; the score file stays as it was
        const QByteArray overwrites = "Leads to the same file as ";
        QTest::newRow("OutPrint.txt a link to Scores.txt: no print")
            << QByteArray(PrintFileName) << QByteArray(ScoreFileName) << overwrites + "Scores.txt, which it would overwrite";
        QTest::newRow("OutPrint.txt a hard link to Scores.txt: no print")
            << QByteArray("hard") << QByteArray(ScoreFileName) << overwrites + "Scores.txt, which it would overwrite";
        QTest::newRow("Plays.csv a link to Scores.txt: no play line")
            << QByteArray(PlayJournalName) << QByteArray(ScoreFileName) << overwrites + "Scores.txt, which it would overwrite";
        QTest::newRow("Scores.txt a link to OutPrint.txt: no save")
            << QByteArray(ScoreFileName) << QByteArray(PrintFileName) << overwrites + "OutPrint.txt, which it would overwrite";
    }

    void noFileOfTheProgramWritesOverAnother()
    {
        QFETCH(QByteArray, link);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, reason);
        if (link == ScoreFileName)
            QVERIFY(rename(ScoreFileName, PrintFileName) == 0);
        if (link == "hard")
            QVERIFY(::link(ScoreFileName, PrintFileName) == 0);
        else
            QVERIFY(symlink(target.constData(), link.constData()) == 0);
        const QByteArray before = ReadBytes(target.constData());
        SaveFailure failure;
        const bool written = link == PlayJournalName ? AppendPlayLines("a\n", 2, &failure)
                             : link == ScoreFileName ? SaveScoreFile(&failure)
                                                     : WritePrintFile(&f().order, &failure);
        QVERIFY(!written);
        QCOMPARE(QByteArray(failure.reason), reason);
        QCOMPARE(ReadBytes(target.constData()), before);
        QVERIFY(before == oldFile_ || link == ScoreFileName);
        // two hard links own the file alike: the scores are still saved, only the print refused
        QVERIFY(link != "hard" || SaveScoreFile());
    }
#endif

#ifdef _WIN32
    // A folder named outside the system's code page is locked by its own name, and a link whose
    // target is not made yet stays a link while the save makes the target, as on other systems.
    void wideNamesAndDanglingLinks()
    {
        // a score file in a drive's root is locked through the root folder, not the volume
        wchar_t root[WideFolderSize];
        WideFolderWrittenBy("\\\\?\\C:\\brisko-not-made.txt", root);
        QCOMPARE(QString::fromWCharArray(root), QStringLiteral("\\\\?\\C:\\"));
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
