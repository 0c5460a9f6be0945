#pragma once

#include <cstring>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include "chart_table.h"

// ChartTable is static and changed in place by every load and insert; tests take a copy of the
// built-in table before the first test and put it back before each one.
class ChartTableSnapshot {
public:
    ChartTableSnapshot() { std::memcpy(saved_, ChartTable, sizeof saved_); }
    void Restore() const { std::memcpy(ChartTable, saved_, sizeof saved_); }

private:
    ChartRecord saved_[ChartCount];
};

inline ChartRecord &Chart(const char *name)
{
    ChartRecord *chart = FindChartByName(name);
    if (chart == nullptr)
        qFatal("no built-in chart named \"%s\"", name);
    return *chart;
}

// As InitChartTable leaves a chart: its whole maxDp lost and no date.
inline bool IsUnscored(const ChartRecord &chart)
{
    return chart.dpLost == chart.maxDp && chart.day == 0 && chart.month == 0 && chart.year == 0;
}

inline void Score(ChartRecord &chart, uint16_t dpLost, uint8_t day = 1, uint8_t month = 1, uint16_t year = 2006)
{
    chart.dpLost = dpLost;
    chart.day = day;
    chart.month = month;
    chart.year = year;
}

// The score and print files live in the current directory; each test gets a fresh one.
class ScopedWorkDir {
public:
    ScopedWorkDir() : previous_(QDir::currentPath())
    {
        if (!dir_.isValid() || !QDir::setCurrent(dir_.path()))
            qFatal("cannot enter a temporary directory");
    }
    ~ScopedWorkDir() { QDir::setCurrent(previous_); }
    QString path() const { return dir_.path(); }
    QString filePath(const QString &name) const { return dir_.filePath(name); }
    QStringList entries() const { return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name); }

private:
    QString previous_;
    QTemporaryDir dir_;
};

// Taken on first use, which comes before any test has changed the table.
inline const ChartTableSnapshot &BuiltInTable()
{
    static const ChartTableSnapshot snapshot;
    return snapshot;
}

// What a storage test works on: the built-in table as InitChartTable leaves it, its display
// order, and a fresh current directory for the score and print files. Made in init() and
// dropped in cleanup(), which puts the built-in table back for whatever runs next.
class TableFixture {
public:
    TableFixture() { FreshTable(); }
    ~TableFixture() { BuiltInTable().Restore(); }
    TableFixture(const TableFixture &) = delete;
    TableFixture &operator=(const TableFixture &) = delete;

    void FreshTable()
    {
        BuiltInTable().Restore();
        InitChartTable(&order);
    }

    ChartOrder order{};
    ScopedWorkDir dir;
};

// One record of a score file: title, date, DP lost and the separator, each line ending in `end`.
inline QByteArray ScoreRecord(const QByteArray &title, const QByteArray &date, const QByteArray &dp,
                              const QByteArray &end = "\n")
{
    return title + end + date + end + dp + end + "----------" + end;
}

inline QByteArray ScoreRecord(const QByteArray &title, const QByteArray &date, int dp)
{
    return ScoreRecord(title, date, QByteArray::number(dp));
}

inline bool WriteBytes(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The line end text mode writes on this system, which the score and print files keep.
#ifdef _WIN32
inline const QByteArray SystemLineEnd = "\r\n";
#else
inline const QByteArray SystemLineEnd = "\n";
#endif

// What a file says, whichever line ends its system writes.
inline QByteArray ReadText(const QString &name)
{
    return ReadBytes(name).replace("\r\n", "\n");
}
