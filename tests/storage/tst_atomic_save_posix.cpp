#include "tst_atomic_save.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QtTest>

#include "in_child.h"
#include "play_journal.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"
#include "unprivileged.h"
#include "writer_faults.h"

bool MakeReadOnly(const char *name, bool readOnly) { return chmod(name, readOnly ? 0444 : 0644) == 0; }

bool ReachScoreFileIn(const char *folder)
{
    return QFile::link(QString::fromLatin1(folder) + QStringLiteral("/Scores.txt"), ScoreFileName);
}

class TestAtomicSave : public AtomicSaveRows {
    Q_OBJECT

private slots:
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

    // A link's target keeps the names beside it, and a link into a folder that is gone is
    // refused with that folder's name, and stays a link.
    void temporaryBesideALinkIsOurOwn()
    {
        QVERIFY(WriteBytes("notes", oldFile_));
        QVERIFY(WriteBytes("notes.tmp", "keep me\n"));
        QVERIFY(QFile::link("notes", "linked.txt"));
        AtomicFileWriter writer("linked.txt", SpecialTarget::Refuse);
        writer.Print("new notes\n");
        QVERIFY(writer.Commit());
        QCOMPARE(ReadBytes("notes"), QByteArray("new notes\n"));
        QCOMPARE(ReadBytes("notes.tmp"), QByteArray("keep me\n"));
        QVERIFY(QFileInfo("linked.txt").isSymLink());

        QVERIFY(QFile::remove(ScoreFileName));
        QVERIFY(QFile::link("gone/Scores.txt", ScoreFileName));
        SaveFailure failure;
        QVERIFY(!SaveScoreFile(&failure));
        QCOMPARE(QByteArray(failure.reason), NoTemporaryIn("gone"));
        QCOMPARE(QFile::symLinkTarget(ScoreFileName), f().dir.filePath("gone/Scores.txt"));
    }

    // A read-only file is refused to a player who does not own it, and to an owner who took
    // away their own right to write it while the group keeps it.
    void readOnlyFilesAreRefusedToEveryone()
    {
        QVERIFY(WriteBytes(PrintFileName, "an old listing\n"));
        for (const char *name : {ScoreFileName, PrintFileName})
            QVERIFY(chmod(name, 0444) == 0);
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [this] { return SaveAndPrintRefused(); }), 1);
        QVERIFY(chmod(ScoreFileName, 0464) == 0);
        SaveFailure failure;
        QVERIFY(!SaveScoreFile(&failure) && failure.error == EACCES);
        if (geteuid() == 0) {  // root, who could write it, leaves another user's read-only file alone
            QVERIFY(chown(ScoreFileName, 65534, 65534) == 0 && chmod(ScoreFileName, 0444) == 0);
            QVERIFY(!SaveScoreFile(&failure) && failure.error == EACCES);
        }
        QCOMPARE(ReadBytes(ScoreFileName), oldFile_);
        QCOMPARE(ReadBytes(PrintFileName), QByteArray("an old listing\n"));
    }

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
        // an absolute link along the chain is taken as it stands
        QVERIFY(QFile::remove("synced/hop"));
        QVERIFY(symlink(QFile::encodeName(f().dir.filePath("synced/deeper/far.txt")).constData(), "synced/hop") == 0);
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadBytes("synced/deeper/far.txt").contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

    // a folder the player may not read cannot be locked: that is said, never skipped
    void folderThatCannotBeReadIsNotLocked()
    {
        const QByteArray refusal = "The folder " + QFile::encodeName(f().dir.path()) +
                                   " could not be locked against other windows: Permission denied";
        QCOMPARE(RunAsUnprivileged(f().dir.path(), [&refusal] {
                     const ScoreFileLock lock;
                     return lock.Refusal() != nullptr && refusal == lock.Refusal() ? 1 : 0;
                 }, 0300), 1);
    }

    // The mode, and no ACL the file had not: the folder's default one (the owner, daemon and the
    // mask rw, the owning group r, others nothing) is the temporary's, not the file's.
    void permissionsOfTheScoreFileAreKept()
    {
        const uint32_t none = 0xFFFFFFFF;
        const uint32_t acl[] = {2, 0x01 | 6 << 16, none, 0x02 | 6 << 16, 1, 0x04 | 4 << 16, none, 0x10 | 6 << 16, none,
                                0x20, none};
        const bool folderAcl = setxattr(".", "system.posix_acl_default", acl, sizeof acl, 0) == 0;
        QVERIFY(chmod(ScoreFileName, 0640) == 0);  // a new temporary has 0600
        QVERIFY(SaveScoreFile());
        struct stat info;
        QVERIFY(stat(ScoreFileName, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), 0640);
        QVERIFY(!folderAcl || (getxattr(ScoreFileName, "system.posix_acl_access", nullptr, 0) < 0 && errno == ENODATA));
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
        // a rewrite in place, two bytes shorter, that fails before the shortening is put back
        // whole; one whose last sync failed keeps the old text, and says where
        QVERIFY(link(ScoreFileName, "second name") == 0);
        const QByteArray before = ReadBytes(ScoreFileName);
        Score(Chart("1998"), 5);
        {
            const ScopedWriterFault fault("sync rewritten", EIO);
            QVERIFY(!SaveScoreFile(&failure));
        }
        QCOMPARE(QByteArray(failure.reason), QByteArray("Input/output error"));
        QCOMPARE(ReadBytes(ScoreFileName), before);
        {
            const ScopedWriterFault fault("sync after shortening", EIO);
            QVERIFY(!SaveScoreFile(&failure));
        }
        const QStringList copies = QDir().entryList({"Scores.txt.old-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(QByteArray(failure.reason), "Input/output error; the new text may not have reached the disk, and the old "
                                             "text is in " + QFile::encodeName(f().dir.filePath(copies[0])));

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
};

QTEST_GUILESS_MAIN(TestAtomicSave)
#include "tst_atomic_save_posix.moc"
