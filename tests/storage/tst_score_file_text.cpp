#include <QtTest>

#include "score_file_fixture.h"

namespace {

QList<int> OwnScores()
{
    QList<int> scores;
    for (const ChartRecord &c : ChartTable)
        scores << c.dpLost << c.day << c.month << c.year;
    return scores;
}

// The text as UTF-16, with or without its byte-order mark.
QByteArray Utf16(const QByteArray &text, bool bigEndian, bool mark)
{
    QByteArray bytes = mark ? QByteArray(bigEndian ? "\xfe\xff" : "\xff\xfe") : QByteArray();
    for (char c : text)
        bytes += bigEndian ? QByteArray(1, 0) + c : QByteArray(1, c) + '\0';
    return bytes;
}

}  // namespace

// How the score file's bytes become records: line ends, marks, UTF-16, the fixed line length,
// titles, and the DP and date lines.
class TestScoreFileText : public ScoreFileRows {
    Q_OBJECT

private slots:
    void crlfReadsAsLfWhereverItFalls_data()
    {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("absoluteDp");
        const QByteArrayList absolute = {"ABSOLUTE", "06/09/2005", "10", "----------"};
        const QByteArrayList after = QByteArrayList{"01/01/2001", "1", "----------"} + absolute;
        QTest::newRow("short lines") << QByteArrayList{"1998"} + after << 10;
        QTest::newRow("CR the last byte that fits, after 126 characters") << QByteArrayList{QByteArray(126, 'y')} + after << 10;
        QTest::newRow("127 characters: two lines either way, the rest shifts") << QByteArrayList{QByteArray(127, 'y')} + after << 622;
        QTest::newRow("253 characters: CR the last byte of the second piece")
            << QByteArrayList{QByteArray(253, 'y'), "1", "----------"} + absolute << 10;
    }

    void crlfReadsAsLfWhereverItFalls()
    {
        QFETCH(QByteArrayList, lines);
        QFETCH(int, absoluteDp);
        QVERIFY(WriteBytes("Scores.txt", lines.join("\n") + "\n"));
        LoadScoreFile();
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), absoluteDp);
        const QList<int> withLf = OwnScores();

        f().FreshTable();
        QVERIFY(WriteBytes("Scores.txt", lines.join("\r\n") + "\r\n"));
        LoadScoreFile();
        QCOMPARE(OwnScores(), withLf);
    }

    void crlfLinesReadTheSame()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", "10", "\r\n") + ScoreRecord("1998", "01/02/2006", "5", "\r\r\n")));
        QVERIFY(LoadScoreFile());
        ExpectOwn("ABSOLUTE", 10, 6, 9, 2005);
        ExpectOwn("1998", 5, 1, 2, 2006);
    }

    void recordsMatchExactTitlesOnly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("absoluteDp");
        QTest::newRow("lower-case title skipped") << ScoreRecord("absolute", "06/09/2005", "10") << false << 622;
        QTest::newRow("title with trailing blank skipped") << ScoreRecord("ABSOLUTE ", "06/09/2005", "10") << false << 622;
        QTest::newRow("the chart after the last record's, in another letter case, skipped")
            << ScoreRecord("99 Red Sneakers", "01/01/2001", "1") + ScoreRecord("ABSOLUTe", "06/09/2005", "10") << true << 622;
        QTest::newRow("unknown title skipped, later record read") << ScoreRecord("No Such Song", "01/01/2001", "1") + ScoreRecord("ABSOLUTE", "06/09/2005", "10") << true << 10;
        QTest::newRow("duplicate title: later record wins") << ScoreRecord("ABSOLUTE", "06/09/2005", "10") + ScoreRecord("ABSOLUTE", "07/09/2005", "3") << true << 3;
        QTest::newRow("empty file") << QByteArray() << false << 622;
        QTest::newRow("only line ends") << QByteArray("\n\n\n\n\n\n\n\n\n") << false << 622;
        QTest::newRow("DP line of 127 digits, the most a line holds, ends the file without a line end")
            << "ABSOLUTE\n06/09/2005\n" + QByteArray(127, '1') << true << 29127;
        const QByteArray absolute = ScoreRecord("ABSOLUTE", "06/09/2005", "10", "\r\n");
        QTest::newRow("UTF-8 mark before the first title") << "\xef\xbb\xbf" + absolute << true << 10;
        QTest::newRow("UTF-8 mark before a later title: no such title")
            << ScoreRecord("1998", "06/09/2005", "5") + "\xef\xbb\xbf" + absolute << true << 622;
        QTest::newRow("UTF-16 LE with its mark") << Utf16(absolute, false, true) << true << 10;
        QTest::newRow("UTF-16 BE with its mark") << Utf16(absolute, true, true) << true << 10;
        QTest::newRow("UTF-16 LE without a mark: NULs in the first line") << Utf16(absolute, false, false) << true << 10;
        QTest::newRow("UTF-16 BE without a mark") << Utf16(absolute, true, false) << true << 10;
        QTest::newRow("UTF-16 with an odd last byte") << Utf16(absolute, false, true) + 'x' << true << 10;
        QTest::newRow("UTF-16 title beyond Latin-1 names no chart: U+0145 is no E")
            << Utf16("ABSOLUT", false, true) + "\x45\x01" + Utf16("\r\n06/09/2005\r\n10\r\n", false, false) << false << 622;
    }

    void recordsMatchExactTitlesOnly()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, result);
        QFETCH(int, absoluteDp);
        QVERIFY(WriteBytes("Scores.txt", file));
        QCOMPARE(LoadScoreFile(), result);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), absoluteDp);
        QCOMPARE(LoadScoreFile("Scores.txt"), result);
    }

    void dpLineParsing_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("dpLost");
        QTest::newRow("plain") << QByteArray("10") << 10;
        QTest::newRow("-1 becomes 65535") << QByteArray("-1") << 65535;
        QTest::newRow("no digits is 0") << QByteArray("abc") << 0;
        QTest::newRow("empty is 0") << QByteArray("") << 0;
        QTest::newRow("digits then letters") << QByteArray("12ab") << 12;
        QTest::newRow("leading blanks and plus") << QByteArray("  \t+7") << 7;
        QTest::newRow("above maxDp stored unchanged") << QByteArray("9999") << 9999;
        QTest::newRow("low 16 bits of 65546") << QByteArray("65546") << 10;
        QTest::newRow("20 digits keep their low 16 bits") << QByteArray("12345678901234567890") << int(12345678901234567890ull & 0xffff);
        QTest::newRow("blank between sign and digits is 0") << QByteArray("- 5") << 0;
    }

    void dpLineParsing()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, dpLost);
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", line)));
        QVERIFY(LoadScoreFile());
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), dpLost);
    }

    void dateLineParsing_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("year");
        QTest::newRow("zero-padded") << QByteArray("06/09/2005") << 6 << 9 << 2005;
        QTest::newRow("unpadded 6/9/2005 reads by position") << QByteArray("6/9/2005") << 6 << 0 << 5;
        QTest::newRow("empty line: every piece 0") << QByteArray("") << 0 << 0 << 0;
        QTest::newRow("day only") << QByteArray("06") << 6 << 0 << 0;
        QTest::newRow("ends before the month") << QByteArray("06/") << 6 << 0 << 0;
        QTest::newRow("ends before the year") << QByteArray("06/09") << 6 << 9 << 0;
        QTest::newRow("ends at the year") << QByteArray("06/09/") << 6 << 9 << 0;
        QTest::newRow("//") << QByteArray("//") << 0 << 0 << 0;
        QTest::newRow("99/99/99999 keeps 16 bits of the year") << QByteArray("99/99/99999") << 99 << 99 << (99999 & 0xffff);
        QTest::newRow("three-digit day shifts the pieces") << QByteArray("300/09/2005") << 30 << 0 << 0;
    }

    void dateLineParsing()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, day);
        QFETCH(int, month);
        QFETCH(int, year);
        // The title matches "1998" up to its first NUL byte and leaves digits at positions 3 and
        // 6 of the reused line buffer: a short date line must not pick them up.
        const QByteArray paddedTitle("1998\0\0" "2013", 10);
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(paddedTitle, line, "10")));
        QVERIFY(LoadScoreFile());
        ExpectOwn("1998", 10, day, month, year);
    }

    void endOfFileCases_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("dpLost");
        QTest::addColumn<int>("day");
        const QByteArray full = "ABSOLUTE\n06/09/2005\n10\n----------";
        QTest::newRow("last separator without line end: complete") << full << true << 10 << 6;
        QTest::newRow("no separator after DP with line end: complete") << QByteArray("ABSOLUTE\n06/09/2005\n10\n") << true << 10 << 6;
        // with no record whole, the file names no chart: nothing of it is taken, not even a date
        QTest::newRow("DP line last without line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005\n10") << false << 622 << 0;
        QTest::newRow("date line last with line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005\n") << false << 622 << 0;
        QTest::newRow("date line last without line end: nothing") << QByteArray("ABSOLUTE\n06/09/2005") << false << 622 << 0;
        QTest::newRow("file ends after the title line") << QByteArray("ABSOLUTE\n") << false << 622 << 0;
        QTest::newRow("title without line end") << QByteArray("ABSOLUTE") << false << 622 << 0;
    }

    void endOfFileCases()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, result);
        QFETCH(int, dpLost);
        QFETCH(int, day);
        QVERIFY(WriteBytes("Scores.txt", file));
        QCOMPARE(LoadScoreFile(), result);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), dpLost);
        QCOMPARE(int(Chart("ABSOLUTE").day), day);
    }

    void longLinesAreReadInPieces()
    {
        // 127 characters and a line end make two lines: the record after it shifts by one
        const QByteArray line127(127, 'x');
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(line127, "01/01/2001", "1") + "ABSOLUTE\n06/09/2005\n10\n----------\n" + ScoreRecord("1998", "01/01/2006", "7")));
        QVERIFY(!LoadScoreFile());
        QVERIFY(IsUnscored(Chart("ABSOLUTE")));
        QVERIFY(IsUnscored(Chart("1998")));

        // with one line fewer after the long one, the records line up again
        f().FreshTable();
        QVERIFY(WriteBytes("Scores.txt", line127 + "\n01/01/2001\n1\n" + ScoreRecord("ABSOLUTE", "06/09/2005", "10")));
        QVERIFY(LoadScoreFile());
        ExpectOwn("ABSOLUTE", 10, 6, 9, 2005);
    }

    void titleOf126CharactersStillOneLine()
    {
        const QByteArray line126(126, 'y');
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(line126, "01/01/2001", "1") + ScoreRecord("ABSOLUTE", "06/09/2005", "10")));
        QVERIFY(LoadScoreFile());
        ExpectOwn("ABSOLUTE", 10, 6, 9, 2005);
    }

};

QTEST_GUILESS_MAIN(TestScoreFileText)
#include "tst_score_file_text.moc"
