#include <QtTest>

#include "chart_fixture.h"
#include "score_text.h"

class TestScoreText : public QObject {
    Q_OBJECT

private slots:
    void differenceText_data()
    {
        QTest::addColumn<int>("difference");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("0: four blanks and 0") << 0 << QByteArray("    0");
        QTest::newRow("7: three blanks and +7") << 7 << QByteArray("   +7");
        QTest::newRow("-7: three blanks and -7") << -7 << QByteArray("   -7");
        QTest::newRow("123: one blank and +123") << 123 << QByteArray(" +123");
        QTest::newRow("550: unscored .59 against 0") << 550 << QByteArray(" +550");
        QTest::newRow("1446: no blank") << 1446 << QByteArray("+1446");
        QTest::newRow("-1446") << -1446 << QByteArray("-1446");
        QTest::newRow("12345 widens to six") << 12345 << QByteArray("+12345");
        QTest::newRow("-12345 widens to six") << -12345 << QByteArray("-12345");
        QTest::newRow("65535 beyond 16-bit signed") << 65535 << QByteArray("+65535");
        QTest::newRow("-65535 beyond 16-bit signed") << -65535 << QByteArray("-65535");
    }

    void differenceText()
    {
        QFETCH(int, difference);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray(DifferenceText(difference).text), text);
    }

    void percentTexts_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("label");
        QTest::newRow("perfect") << 10000 << QByteArray("100.00") << QByteArray("100.00%");
        QTest::newRow("95.05") << 9505 << QByteArray("95.05") << QByteArray("95.05%");
        QTest::newRow("90.88") << 9088 << QByteArray("90.88") << QByteArray("90.88%");
        QTest::newRow("five hundredths") << 5 << QByteArray("00.05") << QByteArray("0.05%");
        QTest::newRow("zero") << 0 << QByteArray("00.00") << QByteArray("0.00%");
        QTest::newRow("single-digit whole part") << 950 << QByteArray("09.50") << QByteArray("9.50%");
    }

    void percentTexts()
    {
        QFETCH(int, percent);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, label);
        QCOMPARE(QByteArray(PercentFieldText(uint16_t(percent)).text), field);
        QCOMPARE(QByteArray(PercentLabelText(uint16_t(percent)).text), label);
    }

    void listDateText_data()
    {
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("year");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("6 September 2005") << 6 << 9 << 2005 << QByteArray("06/09/2005");
        QTest::newRow("unscored") << 0 << 0 << 0 << QByteArray("00/00/00");
        QTest::newRow("two-digit year from a file") << 31 << 12 << 5 << QByteArray("31/12/05");
        QTest::newRow("largest values a file can give") << 255 << 255 << 65535 << QByteArray("255/255/65535");
    }

    void listDateText()
    {
        QFETCH(int, day);
        QFETCH(int, month);
        QFETCH(int, year);
        QFETCH(QByteArray, text);
        ChartRecord chart{};
        chart.day = uint8_t(day);
        chart.month = uint8_t(month);
        chart.year = uint16_t(year);
        QCOMPARE(QByteArray(ListDateText(chart).text), text);
    }
};

QTEST_GUILESS_MAIN(TestScoreText)
#include "tst_score_text.moc"
