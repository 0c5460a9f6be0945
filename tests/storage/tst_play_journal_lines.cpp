#include <QtTest>
#include <QTimeZone>

#include "play_journal_fixture.h"

namespace {

PlayJournal Parse(const QByteArray &text)
{
    PlayJournal journal;
    ParsePlayJournal(text.constData(), size_t(text.size()), journal);
    return journal;
}

}  // namespace

// A play line as it is written, and the journal's text as it is read back into lines.
class TestPlayJournalLines : public PlayJournalRows {
    Q_OBJECT

private slots:
    // Formatted as written, and read back into the same line.
    void lineRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QByteArray>("variant");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray rest = ",300,9,1,0,12,21,98.50,AA,40,2005-09-06,play\n";
        const QByteArray time = "2026-12-09T14:03:22+01:00,";
        QTest::newRow("plain title") << QByteArray("ABSOLUTE") << QByteArray() << Absolute;
        QTest::newRow("comma: quoted") << QByteArray("Left, Right") << QByteArray() << time + "\"Left, Right\"" + rest;
        QTest::newRow("quote: doubled") << QByteArray("Say \"Hi\"") << QByteArray()
                                        << time + "\"Say \"\"Hi\"\"\"" + rest;
        QTest::newRow("both") << QByteArray("\"Go\", he said") << QByteArray()
                              << time + "\"\"\"Go\"\", he said\"" + rest;
        QTest::newRow("edge spaces and UTF-8: unquoted") << QByteArray(" Caf\xc3\xa9 ") << QByteArray()
                                                         << time + " Caf\xc3\xa9 " + rest;
        QTest::newRow("no freezes: OK 0") << QByteArray("ABSOLUTE") << QByteArray("no freezes")
                                          << Replaced(Absolute, ",0,12,", ",0,0,");
        QTest::newRow("undo: no counts") << QByteArray("ABSOLUTE") << QByteArray("undo")
                                         << Replaced(Replaced(Absolute, "300,9,1,0,12", ",,,,"), "play", "undo");
        QTest::newRow("unscored replaced: no date") << QByteArray("ABSOLUTE") << QByteArray("unscored")
                                                    << Replaced(Absolute, ",40,2005-09-06,", ",622,0000-00-00,");
        QTest::newRow("perfect") << QByteArray("ABSOLUTE") << QByteArray("perfect")
                                 << Replaced(Absolute, ",21,98.50,AA,", ",0,100.00,AAA,");
    }

    void lineRoundTrips()
    {
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, variant);
        QFETCH(QByteArray, expected);
        PlayLine line = Line(300, variant == "no freezes" ? 0 : 12);
        std::strcpy(ChartTable[line.chart].name, title.constData());
        if (variant == "undo") {
            line.kind = PlayKind::Undo;
            line.hasCounts = false;
        } else if (variant == "unscored") {
            line.replacedDpLost = 622;
            line.replacedYear = line.replacedMonth = line.replacedDay = 0;
        } else if (variant == "perfect") {
            line.dpLost = 0;
            line.percent = 10000;
            std::strcpy(line.rank, "AAA");
        }
        QCOMPARE(Format(line), expected);
        const PlayJournal journal = Parse(Header + expected);
        QCOMPARE(journal.skippedLines, 0u);
        QCOMPARE(journal.lines.size(), size_t(1));
        QCOMPARE(Format(journal.lines[0]), expected);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<bool>("torn");
        QTest::addColumn<int>("utcShift");  // the first line's time against 14:03:22 UTC
        const QByteArray a = Header + Absolute;
        QTest::newRow("LF") << a << 1 << 0 << false << -3600;
        QTest::newRow("CR LF") << Replaced(a, "\n", "\r\n") << 1 << 0 << false << -3600;
        QTest::newRow("offset -05:30") << Replaced(a, "+01:00", "-05:30") << 1 << 0 << false << 19800;
        QTest::newRow("offset Z") << Replaced(a, "+01:00", "Z") << 1 << 0 << false << 0;
        QTest::newRow("torn last line") << a + Absolute.left(40) << 1 << 0 << true << -3600;
        QTest::newRow("torn between CR and LF") << Header + Absolute.chopped(1) + "\r" << 0 << 0 << true << 0;
        QTest::newRow("header alone, torn") << Header.chopped(1) << 0 << 0 << true << 0;
        QTest::newRow("blank lines: not counted") << Header + "\n\r\n" + Absolute << 1 << 0 << false << -3600;
        QTest::newRow("header not first: counted") << Absolute + Header << 1 << 1 << false << -3600;
        QTest::newRow("quoted title") << Replaced(a, "ABSOLUTE", "\"ABSOLUTE\"") << 1 << 0 << false << -3600;
        QTest::newRow("extra column") << Replaced(a, "play", "play,new") << 1 << 0 << false << -3600;
        QTest::newRow("percent as a spreadsheet saves it") << Replaced(a, "98.50", "98.5") << 1 << 0 << false << -3600;
        const struct {
            const char *tag, *from, *to;
        } edits[] = {
            {"title of no chart", "ABSOLUTE", "absolute"},   {"percent above 100", "98.50", "100.01"},
            {"percent of three decimals", "98.50", "98.500"}, {"dp_lost above 65535", ",21,", ",65536,"},
            {"count with a sign", ",300,", ",+300,"},        {"count with a space", ",300,", ", 300,"},
            {"count too long", ",300,", ",1234567890,"},     {"rank unknown", ",AA,", ",F,"},
            {"kind unknown", "play", "Play"},                {"undo with counts", "play", "undo"},
            {"play without counts", "300,9,1,0,12", ",,,,"}, {"a column missing", ",play", ""},
            {"no such day", "2026-12-09T", "2026-02-29T"},   {"offset out of form", "+01:00", "+0100"},
            {"hour 24", "T14:", "T24:"},                     {"date out of form", "2005-09-06", "2005-9-06"},
            {"quoted number", ",21,", ",\"21\","},           {"quote not closed", "ABSOLUTE", "\"ABSOLUTE"},
            {"text after a quote", "ABSOLUTE", "\"ABSOLUTE\"x"},
        };
        for (const auto &edit : edits)
            QTest::newRow(edit.tag) << Replaced(a, edit.from, edit.to) + Absolute << 1 << 1 << false << -3600;
        QTest::newRow("quoted line end: two lines skipped")
            << Replaced(a, "ABSOLUTE", "\"ABSO\nLUTE\"") << 0 << 2 << false << 0;
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, lines);
        QFETCH(int, skipped);
        QFETCH(bool, torn);
        QFETCH(int, utcShift);
        const PlayJournal journal = Parse(text);
        QCOMPARE(journal.lines.size(), size_t(lines));
        QCOMPARE(journal.skippedLines, uint32_t(skipped));
        QCOMPARE(journal.tornLastLine, torn);
        if (lines > 0)
            QCOMPARE(journal.lines[0].utcSeconds,
                     QDateTime(QDate(2026, 12, 9), QTime(14, 3, 22), QTimeZone::utc()).toSecsSinceEpoch() + utcShift);
    }
};

QTEST_GUILESS_MAIN(TestPlayJournalLines)
#include "tst_play_journal_lines.moc"
