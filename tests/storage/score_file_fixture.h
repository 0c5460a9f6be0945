#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include <QObject>
#include <QtTest>

#include "chart_fixture.h"
#include "score_file.h"

// Stands in for the pause before a file is read again: counts, writes what another program
// wrote meanwhile (one text a pause, then nothing; a text ending in "+" is written anew at every
// pause with one more blank line, a file that never comes to rest), and moves the clock on.
inline int Pauses = 0;
inline QByteArrayList WrittenDuringPauses;
inline int64_t ClockStart = 0;
inline int64_t ClockStep = 0;

inline void PauseOfTheTest()
{
    ++Pauses;
    if (!WrittenDuringPauses.isEmpty() && WrittenDuringPauses.first().endsWith('+'))
        WriteBytes(ScoreFileName, WrittenDuringPauses.first().chopped(1) + QByteArray(Pauses, '\n'));
    else if (!WrittenDuringPauses.isEmpty())
        WriteBytes(ScoreFileName, WrittenDuringPauses.takeFirst());
}

inline int64_t SystemNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Files written by the test count as changed long ago, unless a test sets the clock itself.
inline int64_t ClockOfTheTest()
{
    return (ClockStart != 0 ? ClockStart : SystemNow() + 3600'000'000'000) + Pauses * ClockStep;
}

inline void PauseAndClockOfTheTest(const QByteArrayList &written, int64_t start, int64_t step)
{
    Pauses = 0;
    WrittenDuringPauses = written;
    ClockStart = start;
    ClockStep = step;
    SetPauseBeforeReadingAgain(PauseOfTheTest);
}

inline void ExpectOwn(const char *name, int dpLost, int day, int month, int year)
{
    const ChartRecord &c = Chart(name);
    QCOMPARE(int(c.dpLost), dpLost);
    QCOMPARE(int(c.day), day);
    QCOMPARE(int(c.month), month);
    QCOMPARE(int(c.year), year);
}

// What every score file test stands on: the built-in table in a fresh folder, no score file read
// before, and the test's clock; no seam of the file outlives its test.
class ScoreFileRows : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

private slots:
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        ForgetScoreFile();
        ClockStart = 0;
        SetScoreFileClock(ClockOfTheTest);
    }

    void cleanup()
    {
        SetPauseBeforeReadingAgain(nullptr);
        SetScoreFileClock(nullptr);
        fixture_.reset();
    }
};
