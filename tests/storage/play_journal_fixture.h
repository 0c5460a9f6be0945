#pragma once

#include <cstring>
#include <memory>

#include <QByteArray>
#include <QObject>

#include "chart_fixture.h"
#include "play_journal.h"

inline const QByteArray Header = PlayJournalHeader();
inline const QByteArray Absolute = "2026-12-09T14:03:22+01:00,ABSOLUTE,300,9,1,0,12,21,98.50,AA,40,2005-09-06,play\n";

// The line Absolute stands for.
inline PlayLine Line(int great = 300, int ok = 12)
{
    PlayLine line;
    std::strcpy(line.time, "2026-12-09T14:03:22+01:00");
    line.chart = uint16_t(&Chart("ABSOLUTE") - ChartTable);
    line.hasCounts = true;
    const int32_t counts[5] = {great, 9, 1, 0, ok};
    std::memcpy(line.counts, counts, sizeof counts);
    line.dpLost = 21;
    line.percent = 9850;
    std::strcpy(line.rank, "AA");
    line.replacedDpLost = 40;
    line.replacedYear = 2005;
    line.replacedMonth = 9;
    line.replacedDay = 6;
    return line;
}

inline QByteArray Format(const PlayLine &line)
{
    char out[MaxPlayLineSize];
    return QByteArray(out, int(FormatPlayLine(line, out)));
}

inline QByteArray Replaced(QByteArray text, const QByteArray &from, const QByteArray &to)
{
    return text.replace(from, to);
}

// What every journal test works on: the built-in table, which a row may rename a chart of, and a
// fresh folder for the journal and the score file it lies beside.
class PlayJournalRows : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;

private slots:
    void init() { fixture_ = std::make_unique<TableFixture>(); }
    void cleanup() { fixture_.reset(); }
};
