#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <QProcess>
#include <QtTest>

#include "chart_fixture.h"
#include "score_file.h"
#include "score_versions.h"

#ifndef _WIN32
// The order in which a save makes its files durable and renames them, as this process's own
// fsync and rename see it: they stand in for the C library's and pass every call on.
std::vector<std::string> durabilityEvents;

extern "C" int fsync(int fd)
{
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), path, sizeof path - 1) > 0)
        durabilityEvents.push_back("fsync " + std::string(path));
    return int(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char *from, const char *to) noexcept
{
    durabilityEvents.push_back("rename " + QDir::current().absoluteFilePath(QString::fromLocal8Bit(from)).toStdString());
    return int(syscall(SYS_rename, from, to));
}
#endif

namespace {

constexpr int KillCount = 200;
constexpr int LongestDelayMicroseconds = 6000;

// What killed saves left behind: temporaries of their own, which no later save touches.
QStringList Temporaries()
{
    return QDir().entryList({QStringLiteral("Scores.txt.tmp-*")}, QDir::Files | QDir::Hidden);
}

// A saver child that is killed however the test leaves the loop.
class SaverProcess {
public:
    explicit SaverProcess(const QString &directory) { process_.start(QStringLiteral(BRISKO_SCORE_SAVER), {directory}); }
    ~SaverProcess() { Kill(); }

    bool Started() { return process_.waitForStarted(); }
    QString Error() const { return process_.errorString(); }

    // True once the first save is complete; false if the child ended before that.
    bool WaitUntilReady()
    {
        while (process_.bytesAvailable() == 0)
            if (!process_.waitForReadyRead(10000))
                return false;
        return true;
    }

    // True when the kill, not the child itself, ended it.
    bool Kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return false;
        process_.kill();
        process_.waitForFinished();
        return process_.exitStatus() == QProcess::CrashExit;
    }

private:
    QProcess process_;
};

uint32_t SeedForThisRun()
{
    bool given = false;
    uint32_t seed = qEnvironmentVariable("BRISKO_CRASH_SEED").toUInt(&given);
    return given ? seed : std::random_device{}();
}

}  // namespace

class TestCrashSave : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

    // Empty when ChartTable holds exactly the scores of the given version.
    static QString DifferenceFromVersion(uint32_t version)
    {
        ChartRecord loaded[ChartCount];
        std::memcpy(loaded, ChartTable, sizeof loaded);
        ApplyScoreVersion(version);
        for (int i = 0; i < ChartCount; ++i) {
            const ChartRecord &want = ChartTable[i];
            const ChartRecord &got = loaded[i];
            if (got.dpLost != want.dpLost || got.day != want.day || got.month != want.month || got.year != want.year)
                return QStringLiteral("chart %1 is not from version %2: %3 %4/%5/%6 instead of %7 %8/%9/%10")
                    .arg(i).arg(version)
                    .arg(got.dpLost).arg(got.day).arg(got.month).arg(got.year)
                    .arg(want.dpLost).arg(want.day).arg(want.month).arg(want.year);
        }
        return {};
    }

private slots:
    // A killed saver writes no more: the file it leaves is at rest, and is read at once.
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        SetScoreFileClock([] { return int64_t(1) << 62; });
    }

    void cleanup()
    {
        SetScoreFileClock(nullptr);
        fixture_.reset();
    }

#ifndef _WIN32
    // The temporary reaches the disk before it takes the file's name, and the folder's entry
    // after: only then can a power cut leave nothing but the old file or the whole new one.
    void temporaryIsOnTheDiskBeforeItsRename()
    {
        durabilityEvents.clear();
        QVERIFY(SaveScoreFile());
        const std::vector<std::string> events = std::move(durabilityEvents);
        const std::string folder = QDir::currentPath().toStdString();
        const auto renamed = std::find_if(events.begin(), events.end(), [](const std::string &event) {
            return event.rfind("rename ", 0) == 0;
        });
        QVERIFY(renamed != events.end());
        const std::string temporary = renamed->substr(7);
        QVERIFY(QByteArray::fromStdString(temporary).contains("/Scores.txt.tmp-"));
        QVERIFY(std::find(events.begin(), renamed, "fsync " + temporary) != renamed);
        QVERIFY(std::find(renamed, events.end(), "fsync " + folder) != events.end());
    }
#endif

    void killedSaverLeavesOneWholeVersion()
    {
        const uint32_t seed = SeedForThisRun();
        qInfo("seed %u (set BRISKO_CRASH_SEED to repeat the same kill times)", seed);
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> delay(0, LongestDelayMicroseconds);
        int leftTemporary = 0;
        qsizetype leftTemporaries = 0;
        uint32_t newestVersion = 0;

        for (int run = 1; run <= KillCount; ++run) {
            const QString where = QStringLiteral("kill %1 of %2, seed %3").arg(run).arg(KillCount).arg(seed);
            {
                SaverProcess saver(f().dir.path());
                QVERIFY2(saver.Started(), qPrintable(where + QStringLiteral(": ") + saver.Error()));
                QVERIFY2(saver.WaitUntilReady(), qPrintable(where + QStringLiteral(": the saver's first save failed")));
                std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
                QVERIFY2(saver.Kill(), qPrintable(where + QStringLiteral(": the saver ended before the kill")));
            }

            const QByteArray bytes = ReadBytes(ScoreFileName);
            QVERIFY2(bytes.count('\n') == 4 * ChartCount && bytes.endsWith('\n'),
                     qPrintable(where + QStringLiteral(": Scores.txt is not 1024 whole lines")));
            f().FreshTable();
            QVERIFY2(LoadScoreFile(), qPrintable(where));
            const uint32_t version = ChartTable[0].dpLost;
            QVERIFY2(version >= 1, qPrintable(where + QStringLiteral(": no saved version in Scores.txt")));
            const QString difference = DifferenceFromVersion(version);
            QVERIFY2(difference.isEmpty(), qPrintable(where + QStringLiteral(": ") + difference));
            newestVersion = std::max(newestVersion, version);

            // What a killed save leaves behind must not trip the next one.
            const QStringList left = Temporaries();
            leftTemporary += left.size() > leftTemporaries;
            leftTemporaries = left.size();
            QVERIFY2(SaveScoreFile(), qPrintable(where + QStringLiteral(": the next save failed")));
            QVERIFY2(Temporaries() == left, qPrintable(where + QStringLiteral(": the next save left its temporary")));
            f().FreshTable();
            QVERIFY(LoadScoreFile());
            QCOMPARE(uint32_t(ChartTable[0].dpLost), version);
        }
        qInfo("%d of %d kills left a temporary behind; the newest version seen was %u", leftTemporary, KillCount,
              newestVersion);
        // Kills that all fell between two saves would have proven nothing.
        QVERIFY(leftTemporary > 0);
        QVERIFY(newestVersion > 1);
    }
};

QTEST_GUILESS_MAIN(TestCrashSave)
#include "tst_crash_save.moc"
