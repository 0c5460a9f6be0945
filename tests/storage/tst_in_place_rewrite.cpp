#include <cerrno>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QtTest>

#include "in_child.h"
#include "print_file.h"
#include "saved_score_rows.h"
#include "score_file.h"
#include "unprivileged.h"
#include "writer_faults.h"

// Where a save cannot replace the file it rewrites it in place: a folder that refuses new files,
// a rename that fails, the file systems that make one or the other happen.
class TestInPlaceRewrite : public SavedScoreRows {
    Q_OBJECT

private slots:
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

    // Where a replace cannot serve, the file itself is rewritten, at every save. Its old text is
    // kept beside it until the new one is on the disk: there when the check is asked, and gone
    // once the check said no.
    void fileThatCannotBeReplacedIsRewrittenInPlace_data()
    {
        QTest::addColumn<QByteArray>("call");  // the seam that fails, or how the file is set up
        QTest::addColumn<int>("error");
        QTest::newRow("rename refused: a file mounted there") << QByteArray("rename") << EBUSY;
        QTest::newRow("rename refused: mounted from another file system") << QByteArray("rename") << EXDEV;
        QTest::newRow("rename over a file refused: FAT through some FUSE servers") << QByteArray("rename") << EEXIST;
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
        // the new text, a byte shorter, is on the disk before the old length goes
        const off_t oldSize = oldFile_.size();
        QCOMPARE(ScopedWriterFault::syncedSizes, std::vector<off_t>({oldSize, oldSize - 1}));
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
};

QTEST_GUILESS_MAIN(TestInPlaceRewrite)
#include "tst_in_place_rewrite.moc"
