#include "tst_atomic_save.h"

#include <windows.h>

#include <QtTest>

#include "lock_holder.h"
#include "score_file.h"
#include "score_file_lock.h"

bool MakeReadOnly(const char *name, bool readOnly)
{
    return SetFileAttributesW(QString::fromLatin1(name).toStdWString().c_str(),
                              readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

// Windows links are not followed here: the windows meet in the folder.
bool ReachScoreFileIn(const char *folder) { return QDir::setCurrent(QString::fromLatin1(folder)); }

class TestAtomicSave : public AtomicSaveRows {
    Q_OBJECT

private slots:
    void permissionsOfTheScoreFileAreKept()
    {
        QVERIFY(SetFileAttributesW(L"Scores.txt", FILE_ATTRIBUTE_HIDDEN));  // and no archive attribute
        QVERIFY(SaveScoreFile());
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_HIDDEN) != 0);
        QVERIFY((GetFileAttributesW(L"Scores.txt") & FILE_ATTRIBUTE_ARCHIVE) != 0);  // for xcopy /m
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n07/09/2005\n3\n"));
    }

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
};

QTEST_GUILESS_MAIN(TestAtomicSave)
#include "tst_atomic_save_windows.moc"
