#pragma once

// Another window of the program on the same Scores.txt, and what the tests read back of the
// file and the window they share it with.
#include <csignal>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <QProcess>

#include "window_fixture.h"

// A second window of the program, in a process of its own, working in the given folder, under
// a file size limit and with a shorter wait for the lock on its way out where they are given. It
// is ended at the latest when it goes out of scope.
class OtherWindow {
public:
    explicit OtherWindow(const QString &folder, [[maybe_unused]] int fileSizeLimit = 0, int endingLockWaitMs = 0)
    {
#ifndef _WIN32
        if (fileSizeLimit > 0)
            process_.setChildProcessModifier([fileSizeLimit] {
                const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
#endif
        QStringList arguments = {folder};
        if (endingLockWaitMs > 0)
            arguments << QString::number(endingLockWaitMs);
        process_.start(QStringLiteral(BRISKO_WINDOW_INSERTER), arguments);
        ready_ = process_.waitForStarted() && Answer() == QLatin1String("ready");
    }
    ~OtherWindow()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(10000);
    }

    bool Ready() const { return ready_; }

    QString InsertGreats(const char *title, int greats)
    {
        return Command(QStringLiteral("insert %1 %2").arg(greats).arg(QLatin1String(title)));
    }

    void Send(const QString &command) { process_.write(command.toLatin1() + '\n'); }
    QString Command(const QString &command) { return Send(command), Answer(); }

    QString Answer()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return QStringLiteral("<no answer>");
        return QString::fromLatin1(process_.readLine()).trimmed();
    }

#ifndef _WIN32
    void Signal(int signal) { ::kill(pid_t(process_.processId()), signal); }
#endif
    // The status the program ended with by itself within fifteen seconds, or -1.
    int EndStatus()
    {
        return process_.waitForFinished(15000) && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString ErrorText() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    bool ready_ = false;
};

// The DP line of a chart's record in a written score file, or -1 when the file has no record.
inline int StoredDp(const QByteArray &file, const char *title)
{
    const QByteArrayList lines = file.split('\n');
    for (qsizetype i = 0; i + 2 < lines.size(); i += 4)
        if (lines[i] == title)
            return lines[i + 2].toInt();
    return -1;
}

inline const QString LockedMessage = QStringLiteral("Scores.txt could not be saved: Another window kept it locked. Plays.csv "
                                                    "could not be written either. The play is kept in the window; the next "
                                                    "Insert or closing tries again.");

// One window per test, beside which the other windows run.
class SharedFileFixture {
public:
    void StartTest() { fixture_ = std::make_unique<WindowFixture>(); }
    void EndTest() { fixture_.reset(); }

    WindowFixture &f() { return *fixture_; }

    QString ShownDp(const char *title) { return f().RowTexts(f().RowOf(title)).at(4); }

private:
    std::unique_ptr<WindowFixture> fixture_;
};
