// What a score file handed around between players may hold, beyond the well-formed cases of
// tst_score_file: huge lines, NUL and 8-bit bytes, numbers past every width, and files that
// stop anywhere inside a record. Each case names the records it must give; none may crash.
#include <QtTest>

#include "chart_fixture.h"
#include "score_file.h"

namespace {

constexpr int OneMebibyte = 1 << 20;


QByteArray Bytes(const char *text, int size)
{
    return QByteArray(text, size);
}

}  // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

    // Every chart but the named ones is as InitChartTable left it, comparison value included.
    static QString FirstOtherChange(std::initializer_list<const char *> named)
    {
        for (const ChartRecord &chart : ChartTable) {
            bool isNamed = false;
            for (const char *name : named)
                isNamed = isNamed || std::strcmp(chart.name, name) == 0;
            if (!isNamed && (!IsUnscored(chart) || chart.enemyDpLost != 0))
                return QString::fromLatin1(chart.name);
        }
        return {};
    }

private slots:
    // Most files here end inside a record: each is read again at once, not after a pause.
    void init()
    {
        fixture_ = std::make_unique<TableFixture>();
        SetPauseBeforeReadingAgain([] {});
    }

    void cleanup()
    {
        SetPauseBeforeReadingAgain(nullptr);
        fixture_.reset();
    }

    void strangeFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<int>("absoluteDp");  // -1: ABSOLUTE stays unscored

        const QByteArray absolute = ScoreRecord("ABSOLUTE", "06/09/2005", "10");
        const QByteArray mebibyteLine(OneMebibyte, 'A');
        // 2^20 characters read 127 at a time are 8257 pieces, one past a whole number of records
        QTest::newRow("1 MiB single line without a line end") << mebibyteLine << false << -1;
        QTest::newRow("1 MiB single line, then a record out of step") << mebibyteLine + "\n" + absolute << false << -1;
        QTest::newRow("1 MiB single line and three lines, then a record in step")
            << mebibyteLine + "\nx\ny\nz\n" + absolute << true << 10;
        QTest::newRow("1 MiB of line feeds, then a record in step") << QByteArray(OneMebibyte, '\n') + absolute << true << 10;
        QTest::newRow("1 MiB of NUL bytes") << QByteArray(OneMebibyte, '\0') << false << -1;
        QTest::newRow("carriage returns alone: the whole file is one line")
            << QByteArray("ABSOLUTE\r06/09/2005\r10\r----------\r") << false << -1;
        QTest::newRow("NUL right after the title still matches")
            << ScoreRecord(Bytes("ABSOLUTE\0junk", 13), "06/09/2005", "10") << true << 10;
        QTest::newRow("NUL inside the title cuts it short") << ScoreRecord(Bytes("ABSO\0LUTE", 9), "06/09/2005", "10") << false << -1;
        QTest::newRow("NUL first on the title line") << ScoreRecord(Bytes("\0ABSOLUTE", 9), "06/09/2005", "10") << false << -1;
        QTest::newRow("byte above 127 after the title") << ScoreRecord("ABSOLUTE\xa0", "06/09/2005", "10") << false << -1;
        QTest::newRow("UTF-8 accent in the title") << ScoreRecord("ABSOLUT\xc3\x89", "06/09/2005", "10") << false << -1;
        QTest::newRow("8-bit junk record before a good one")
            << ScoreRecord("\xe9\xe8\xff", "\x80/\x81/\xfe", "\xff") + absolute << true << 10;
        QTest::newRow("tail of an overlong separator read as the next title")
            << QByteArray("No Such Song\n01/01/2001\n1\n") + QByteArray(127, '-') + absolute << true << 10;
        QTest::newRow("blank line before the first record puts every record out of step")
            << "\n" + absolute + ScoreRecord("1998", "01/02/2006", "5") << false << -1;
        QTest::newRow("missing separator: the next title is read as the separator")
            << QByteArray("ABSOLUTE\n06/09/2005\n10\n") + ScoreRecord("1998", "01/02/2006", "5") << true << 10;
    }

    void strangeFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, matched);
        QFETCH(int, absoluteDp);
        QVERIFY(WriteBytes(ScoreFileName, file));
        const ChartRecord &absolute = Chart("ABSOLUTE");

        QCOMPARE(LoadScoreFile(), matched);
        QCOMPARE(int(absolute.dpLost), absoluteDp < 0 ? int(absolute.maxDp) : absoluteDp);
        QCOMPARE(int(absolute.day), absoluteDp < 0 ? 0 : 6);
        QCOMPARE(FirstOtherChange({"ABSOLUTE"}), QString());

        f().FreshTable();
        QCOMPARE(LoadScoreFile(ScoreFileName), matched);
        QCOMPARE(int(absolute.enemyDpLost), absoluteDp < 0 ? 0 : absoluteDp);
        QVERIFY(IsUnscored(absolute));
        QCOMPARE(FirstOtherChange({"ABSOLUTE"}), QString());
    }

    // The title line is the record's first: a title read as two or three lines puts the
    // record after it in or out of step. 127 characters and its line end: see tst_score_file.
    void longTitles_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("matched");
        QTest::newRow("128 characters: read as 127 and 1") << 128 << true;
        QTest::newRow("253 characters: read as 127 and 126") << 253 << true;
        QTest::newRow("254 characters: two full pieces and the line end") << 254 << false;
        QTest::newRow("255 characters: read as 127, 127 and 1") << 255 << false;
    }

    void longTitles()
    {
        QFETCH(int, length);
        QFETCH(bool, matched);
        // With the title read as two lines, the filler's two lines end its record and
        // ABSOLUTE's record starts in step.
        QVERIFY(WriteBytes(ScoreFileName, QByteArray(length, 'T') + "\n06/09/2005\n10\n" +
                                              ScoreRecord("ABSOLUTE", "07/09/2005", "3")));
        QCOMPARE(LoadScoreFile(), matched);
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), matched ? 3 : int(Chart("ABSOLUTE").maxDp));
    }

    void dpLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("dpLost");
        QTest::newRow("20 nines keep their low 16 bits") << QByteArray("99999999999999999999") << 65535;
        QTest::newRow("negative 20 digits keep their low 16 bits") << QByteArray("-12345678901234567890") << 62766;
        QTest::newRow("127 digits, the most one line holds") << QByteArray(127, '1') << 29127;
        QTest::newRow("65535, the largest kept whole") << QByteArray("65535") << 65535;
        QTest::newRow("65536 wraps to 0") << QByteArray("65536") << 0;
        QTest::newRow("-65535 wraps to 1") << QByteArray("-65535") << 1;
        QTest::newRow("minus zero") << QByteArray("-0") << 0;
        QTest::newRow("two signs") << QByteArray("+-5") << 0;
        QTest::newRow("blank inside the digits ends them") << QByteArray("4 2") << 4;
        QTest::newRow("form feed, vertical tab and tab before the digits") << QByteArray("\f\v\t9") << 9;
        QTest::newRow("only blanks") << QByteArray("   ") << 0;
        QTest::newRow("hexadecimal is not read") << QByteArray("0x1F") << 0;
        QTest::newRow("exponent is not read") << QByteArray("1e3") << 1;
        QTest::newRow("NUL inside the digits ends them") << Bytes("12\0" "34", 5) << 12;
        QTest::newRow("byte above 127 before the digits") << QByteArray("\xff" "12") << 0;
        QTest::newRow("digits of another script") << QByteArray("\xd9\xa1\xd9\xa2") << 0;
    }

    void dpLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, dpLost);
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "06/09/2005", line)));
        QVERIFY(LoadScoreFile());
        QCOMPARE(int(Chart("ABSOLUTE").dpLost), dpLost);
        f().FreshTable();
        QVERIFY(LoadScoreFile(ScoreFileName));
        QCOMPARE(int(Chart("ABSOLUTE").enemyDpLost), dpLost);
    }

    void dateLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("dpLost");
        QTest::newRow("negative pieces keep their low bits") << QByteArray("-1/-9/2005") << 255 << 247 << 2005 << 10;
        QTest::newRow("signed pieces") << QByteArray("+6/+9/+2005") << 6 << 9 << 2005 << 10;
        QTest::newRow("blank-padded pieces") << QByteArray(" 6/ 9/ 2005") << 6 << 9 << 2005 << 10;
        QTest::newRow("other separators at the same places") << QByteArray("06-09-2005") << 6 << 9 << 2005 << 10;
        QTest::newRow("text after the year") << QByteArray("06/09/2005 by Wren") << 6 << 9 << 2005 << 10;
        QTest::newRow("17-digit year keeps 16 bits") << QByteArray("06/09/20051234567890123") << 6 << 9 << 9419 << 10;
        QTest::newRow("negative year") << QByteArray("06/09/-1") << 6 << 9 << 65535 << 10;
        QTest::newRow("letters everywhere") << QByteArray("ab/cd/efgh") << 0 << 0 << 0 << 10;
        QTest::newRow("NUL after the day: the line ends there") << Bytes("06/\0" "09/2005", 11) << 6 << 0 << 0 << 10;
        QTest::newRow("bytes above 127") << QByteArray("\xff\xfe/\x80\x81/\xc3\xa9") << 0 << 0 << 0 << 10;
        QTest::newRow("126 characters: still one line") << "06/09/" + QByteArray(120, '9') << 6 << 9 << 65535 << 10;
        QTest::newRow("127 characters: the line end is read as the DP line")
            << "06/09/" + QByteArray(121, '9') << 6 << 9 << 65535 << 0;
    }

    void dateLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, day);
        QFETCH(int, month);
        QFETCH(int, year);
        QFETCH(int, dpLost);
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", line, "10")));
        QVERIFY(LoadScoreFile());
        const ChartRecord &absolute = Chart("ABSOLUTE");
        QCOMPARE(int(absolute.day), day);
        QCOMPARE(int(absolute.month), month);
        QCOMPARE(int(absolute.year), year);
        QCOMPARE(int(absolute.dpLost), dpLost);
    }

    // A day or month read from "-1" is 255; the save must write it so that it reads back as 255.
    void negativeDatePiecesSurviveASave()
    {
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "-1/-9/2005", "10")));
        QVERIFY(LoadScoreFile());
        QVERIFY(SaveScoreFile());
        QVERIFY(ReadText(ScoreFileName).contains("\nABSOLUTE\n-1/-9/2005\n10\n----------\n"));
        f().FreshTable();
        QVERIFY(LoadScoreFile());
        QCOMPARE(int(Chart("ABSOLUTE").day), 255);
        QCOMPARE(int(Chart("ABSOLUTE").month), 247);
        QCOMPARE(int(Chart("ABSOLUTE").year), 2005);
    }

    // The file stops after every byte of ABSOLUTE's record, which follows a complete one.
    // Only lines that end with their line feed count: a date line stores the date, a DP line
    // the score; a line cut short, or ending in a carriage return alone, stores nothing.
    void endInsideEveryLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("wholeLines");
        const QByteArray lineNames[] = {"title", "date", "DP", "separator"};
        const QByteArray lines[] = {"ABSOLUTE", "06/09/2005", "10", "----------"};
        for (const QByteArray &end : {QByteArray("\n"), QByteArray("\r\n")}) {
            const QByteArray endName = end == "\n" ? "LF" : "CRLF";
            const QByteArray first = ScoreRecord("1998", "01/02/2006", "5", end);
            QByteArray whole;
            for (int line = 0; line < 4; ++line) {
                const QByteArray text = lines[line] + end;
                for (int cut = 0; cut < text.size(); ++cut)
                    QTest::addRow("%s: %d of %d bytes of the %s line", endName.constData(), cut, int(text.size()),
                                  lineNames[line].constData())
                        << first + whole + text.left(cut) << line;
                whole += text;
            }
            QTest::addRow("%s: the whole record", endName.constData()) << first + whole << 4;
        }
    }

    void endInsideEveryLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, wholeLines);
        QVERIFY(WriteBytes(ScoreFileName, file));
        const ChartRecord &absolute = Chart("ABSOLUTE");
        const bool dateStored = wholeLines >= 2;
        const bool scoreStored = wholeLines >= 3;

        QVERIFY(LoadScoreFile());
        QCOMPARE(int(Chart("1998").dpLost), 5);
        QCOMPARE(int(absolute.day), dateStored ? 6 : 0);
        QCOMPARE(int(absolute.month), dateStored ? 9 : 0);
        QCOMPARE(int(absolute.year), dateStored ? 2005 : 0);
        QCOMPARE(int(absolute.dpLost), scoreStored ? 10 : int(absolute.maxDp));
        QCOMPARE(FirstOtherChange({"ABSOLUTE", "1998"}), QString());

        f().FreshTable();
        QVERIFY(LoadScoreFile(ScoreFileName));
        QCOMPARE(int(Chart("1998").enemyDpLost), 5);
        QCOMPARE(int(absolute.enemyDpLost), scoreStored ? 10 : 0);
        QVERIFY(IsUnscored(absolute));
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_bad_input.moc"
