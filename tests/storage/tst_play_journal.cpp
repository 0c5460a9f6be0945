#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>

#include "in_child.h"
#include "play_journal_fixture.h"
#include "score_file.h"
#include "score_file_lock.h"

namespace {

// What waits unread on a descriptor that does not block.
QByteArray Drain(int fd)
{
    char piece[64];
    const ssize_t got = read(fd, piece, sizeof piece);
    return got > 0 ? QByteArray(piece, int(got)) : QByteArray();
}

bool Append(const QByteArray &text, SaveFailure *failure = nullptr)
{
    return AppendPlayLines(text.constData(), size_t(text.size()), failure);
}

}  // namespace

// The journal as a file: where it lies, what it refuses, how lines are added under the lock and
// what a second read parses again.
class TestPlayJournal : public PlayJournalRows {
    Q_OBJECT

private slots:
    // Neither read nor written into: what waits in a pipe or a terminal stays there, and
    // nothing arrives.
    void specialFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<int>("fileKind");
        const int notRegular = int(PlayJournalRefusal::NotRegular);
        QTest::newRow("named pipe") << QByteArray("fifo") << notRegular << int(FileKind::NamedPipe);
        QTest::newRow("link to a named pipe") << QByteArray("fifo link") << notRegular << int(FileKind::NamedPipe);
        QTest::newRow("terminal, linked") << QByteArray("pty") << notRegular << int(FileKind::Device);
        QTest::newRow("directory") << QByteArray("dir") << notRegular << int(FileKind::Directory);
        QTest::newRow("above the size bound")
            << QByteArray("large") << int(PlayJournalRefusal::TooLarge) << int(FileKind::Regular);
    }

    void specialFilesAreRefused()
    {
        QFETCH(QByteArray, kind);
        QFETCH(int, refusal);
        QFETCH(int, fileKind);
        int waiting = -1, other = -1;  // where "x" waits to be read; where written text would show
        if (kind.startsWith("fifo")) {
            QVERIFY(mkfifo(kind == "fifo" ? PlayJournalName : "pipe", 0600) == 0);
            QVERIFY(kind == "fifo" || symlink("pipe", PlayJournalName) == 0);
            QVERIFY((waiting = open(PlayJournalName, O_RDONLY | O_NONBLOCK)) >= 0);
            QVERIFY((other = open(PlayJournalName, O_WRONLY | O_NONBLOCK)) >= 0);
            QCOMPARE(write(other, "x", 1), ssize_t(1));
        } else if (kind == "pty") {
            char name[PATH_MAX];
            QVERIFY(openpty(&other, &waiting, name, nullptr, nullptr) == 0);
            termios raw;
            QVERIFY(tcgetattr(waiting, &raw) == 0);
            cfmakeraw(&raw);
            QVERIFY(tcsetattr(waiting, TCSANOW, &raw) == 0);
            QVERIFY(fcntl(waiting, F_SETFL, O_NONBLOCK) == 0 && fcntl(other, F_SETFL, O_NONBLOCK) == 0);
            QCOMPARE(write(other, "x", 1), ssize_t(1));
            QVERIFY(symlink(name, PlayJournalName) == 0);
        } else if (kind == "dir") {
            QVERIFY(QDir().mkdir(PlayJournalName));
        } else {
            QVERIFY(WriteBytes(PlayJournalName, Header + Absolute));
            QVERIFY(QFile::resize(PlayJournalName, MaxPlayJournalSize + 1));  // sparse
        }
        PlayJournal journal;
        journal.skippedLines = 7;
        PlayJournalStatus status;
        QVERIFY(!ReadPlayJournal(journal, status));
        QCOMPARE(int(status.refusal), refusal);
        QCOMPARE(int(status.kind), fileKind);
        QCOMPARE(journal.skippedLines, 7u);
        SaveFailure failure;
        QVERIFY(!Append(Absolute, &failure));
        QCOMPARE(QByteArray(failure.reason), QByteArray(DescribeRefusal(status).text));
        if (waiting >= 0) {
            QTest::qWait(20);  // a terminal hands on what was written after a moment
            QCOMPARE(Drain(waiting), QByteArray("x"));
            QCOMPARE(Drain(other), QByteArray());
            close(waiting);
            close(other);
        }
        if (kind == "large")
            QCOMPARE(QFileInfo(PlayJournalName).size(), MaxPlayJournalSize + 1);
    }

    void append_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file: header first") << false << QByteArray() << Header + Absolute;
        QTest::newRow("empty file: header first") << true << QByteArray() << Header + Absolute;
        QTest::newRow("torn last line: a line end first")
            << true << Header + "2026-1" << Header + "2026-1\n" + Absolute;
        QTest::newRow("whole lines: after them") << true << Header + Absolute << Header + Absolute + Absolute;
    }

    void append()
    {
        QFETCH(bool, exists);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QVERIFY(!exists || WriteBytes(PlayJournalName, before));
        const mode_t mask = umask(027);
        QVERIFY(Append(Absolute));
        umask(mask);
        QCOMPARE(ReadBytes(PlayJournalName), after);
        struct stat info;
        QVERIFY(stat(PlayJournalName, &info) == 0);
        QVERIFY(exists || (info.st_mode & 0777) == 0640);
    }

    void journalLiesBesideTheScores_data()
    {
        QTest::addColumn<QString>("folder");  // where Scores.txt really is; empty: no link
        QTest::newRow("here") << QString();
        QTest::newRow("through a link") << QStringLiteral("synced");
    }

    void journalLiesBesideTheScores()
    {
        QFETCH(QString, folder);
        if (!folder.isEmpty())
            QVERIFY(QDir().mkdir(folder) && QFile::link(folder + "/Scores.txt", QString::fromLatin1(ScoreFileName)));
        const QString expected =
            QDir::current().absoluteFilePath(folder.isEmpty() ? "Plays.csv" : folder + "/Plays.csv");
        char path[PATH_MAX];
        PlayJournalPath(path);
        QCOMPARE(QString::fromUtf8(path), expected);
        QVERIFY(Append(Absolute));
        QCOMPARE(ReadBytes(expected), Header + Absolute);
        PlayJournal journal;
        PlayJournalStatus status;
        QVERIFY(ReadPlayJournal(journal, status));
        QCOMPARE(journal.lines.size(), size_t(1));
    }

    // Refused before a byte is written: the journal stays as it was, byte for byte.
    void appendFailureLeavesTheJournal_data()
    {
        QTest::addColumn<QByteArray>("fileSystem");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("error");
        QTest::newRow("read-only file") << QByteArray() << 0444 << EACCES;
        QTest::newRow("file size limit") << QByteArray("limit") << 0644 << EFBIG;
        QTest::newRow("full tmpfs") << QByteArray("tmpfs") << 0644 << ENOSPC;
    }

    void appendFailureLeavesTheJournal()
    {
        QFETCH(QByteArray, fileSystem);
        QFETCH(int, mode);
        QFETCH(int, error);
        if (fileSystem == "tmpfs" && geteuid() != 0)
            QSKIP("a file system of the test's own takes root");
        QVERIFY(QDir().mkdir("mnt"));
        const QByteArray problem = InChild(fileSystem == "tmpfs" ? fileSystem : QByteArray(), [&]() -> QByteArray {
            const QByteArray old = Header + Absolute;
            if (chdir("mnt") != 0 || !WriteBytes(PlayJournalName, old) || chmod(PlayJournalName, mode_t(mode)) != 0)
                return "no old journal";
            QFile filler("filler");
            if (fileSystem == "tmpfs" && filler.open(QIODevice::WriteOnly))
                while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
                }
            const ScopedFileSizeLimit limit(fileSystem == "limit" ? rlim_t(old.size() + 100) : RLIM_INFINITY);
            SaveFailure failure;
            if (Append(Absolute.repeated(64), &failure))
                return "appended";
            if (failure.error != error || QByteArray(failure.reason) != std::strerror(error))
                return "failed with " + QByteArray(failure.reason);
            return ReadBytes(PlayJournalName) == old ? "" : "the journal changed";
        });
        if (problem.startsWith("skip: "))
            QSKIP(problem.mid(6).constData());
        QVERIFY2(problem.isEmpty(), problem.constData());
    }

    // Two windows, each appending under the folder's lock: every line whole, none lost.
    void twoWritersAtOnce()
    {
        constexpr int Lines = 100;
        pid_t children[2];
        for (int writer = 0; writer < 2; ++writer) {
            if ((children[writer] = fork()) == 0) {
                alarm(60);
                for (int i = 0; i < Lines; ++i) {
                    const QByteArray line = Format(Line(writer, i));
                    ScoreFileLock lock;
                    if (lock.Refusal() != nullptr || !Append(line))
                        _exit(1);
                }
                _exit(0);
            }
            QVERIFY(children[writer] > 0);
        }
        QDeadlineTimer bound(60000);
        for (pid_t child : children) {
            int status = -1;
            while (waitpid(child, &status, WNOHANG) == 0 && !bound.hasExpired())
                QTest::qWait(10);
            if (bound.hasExpired() && kill(child, SIGKILL) == 0)
                waitpid(child, &status, 0);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "a writer failed or did not finish");
        }
        PlayJournal journal;
        PlayJournalStatus status;
        QVERIFY(ReadPlayJournal(journal, status));
        QCOMPARE(journal.skippedLines, 0u);
        QVERIFY(!journal.tornLastLine);
        QCOMPARE(journal.lines.size(), size_t(2 * Lines));
        int next[2] = {0, 0};
        for (const PlayLine &line : journal.lines)
            QCOMPARE(line.counts[4], next[line.counts[0]]++);
    }

    // A journal read before is parsed again only past what was parsed, unless its bytes changed.
    void readAgain_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");  // null: removed
        QTest::addColumn<bool>("fromScratch");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("skipped");
        const QByteArray a = Header + Absolute, bad = "not a play\n";
        const QByteArray other = Replaced(Absolute, ",21,", ",22,");
        QTest::newRow("unchanged: nothing again") << a << a << false << 1 << 0;
        QTest::newRow("appended: only the tail") << a << a + other << false << 2 << 0;
        QTest::newRow("torn tail changed: only the tail")
            << a + Replaced(Absolute, "14:03", "14:04").left(30) << a + other << false << 2 << 0;
        QTest::newRow("torn line completed") << a + other.left(30) << a + other << false << 2 << 0;
        QTest::newRow("skipped lines not counted twice") << a + bad << a + bad + other << false << 2 << 1;
        QTest::newRow("a changed byte before: all again") << a << Header + other + Absolute << true << 2 << 0;
        QTest::newRow("same size, other bytes") << a << Header + other << true << 1 << 0;
        QTest::newRow("shortened") << a + other << a.left(a.size() - 1) << true << 0 << 0;
        QTest::newRow("removed: an empty journal") << a + bad << QByteArray() << true << 0 << 0;
    }

    void readAgain()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, fromScratch);
        QFETCH(int, lines);
        QFETCH(int, skipped);
        PlayJournal journal;
        PlayJournalStatus status;
        QVERIFY(WriteBytes(PlayJournalName, first));
        QVERIFY(ReadPlayJournal(journal, status) && !journal.lines.empty());
        journal.lines[0].dpLost = 999;  // stays only where the first line is not parsed again
        QVERIFY(second.isNull() ? QFile::remove(PlayJournalName) : WriteBytes(PlayJournalName, second));
        QVERIFY(ReadPlayJournal(journal, status));
        QCOMPARE(int(status.refusal), int(second.isNull() ? PlayJournalRefusal::Missing : PlayJournalRefusal::None));
        QCOMPARE(journal.lines.size(), size_t(lines));
        QCOMPARE(journal.skippedLines, uint32_t(skipped));
        QCOMPARE(QByteArray(journal.text.data(), int(journal.text.size())), second);
        QVERIFY(lines == 0 || (journal.lines[0].dpLost == 999) != fromScratch);
    }
};

QTEST_GUILESS_MAIN(TestPlayJournal)
#include "tst_play_journal.moc"
