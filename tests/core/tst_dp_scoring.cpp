#include <QtTest>

#include "dp_scoring.h"

class TestDpScoring : public QObject {
    Q_OBJECT

private slots:
    void computeDpLost_data()
    {
        QTest::addColumn<int>("maxDp");
        QTest::addColumn<int>("freezes");
        QTest::addColumn<int>("great");
        QTest::addColumn<int>("good");
        QTest::addColumn<int>("boo");
        QTest::addColumn<int>("miss");
        QTest::addColumn<int>("ok");
        QTest::addColumn<int>("expected");

        // maxDp 636, 6 freezes: the worked example chart of 300 steps
        QTest::newRow("worked example loses 58") << 636 << 6 << 20 << 3 << 1 << 2 << 5 << 58;
        QTest::newRow("Great 44 with all freezes OK") << 636 << 6 << 44 << 0 << 0 << 0 << 6 << 44;
        QTest::newRow("empty entry loses six per freeze") << 636 << 6 << 0 << 0 << 0 << 0 << 0 << 36;
        QTest::newRow("empty entry without freezes loses nothing") << 550 << 0 << 0 << 0 << 0 << 0 << 0 << 0;
        QTest::newRow("freeze penalty capped at maxDp") << 20 << 10 << 0 << 0 << 0 << 0 << 0 << 20;
        QTest::newRow("OK above freezes counts as all freezes") << 636 << 6 << 0 << 0 << 0 << 0 << 7 << 0;
        QTest::newRow("OK 262 counts as all freezes") << 636 << 6 << 0 << 0 << 0 << 0 << 262 << 0;
        QTest::newRow("OK 256 counts as all freezes") << 636 << 6 << 0 << 0 << 0 << 0 << 256 << 0;
        QTest::newRow("OK -1 counts as none") << 636 << 6 << 0 << 0 << 0 << 0 << -1 << 36;
        QTest::newRow("OK of minimum int counts as none") << 636 << 6 << 0 << 0 << 0 << 0 << INT32_MIN << 36;
        QTest::newRow("OK ignored without freezes") << 550 << 0 << 5 << 0 << 0 << 0 << -99999 << 5;
        QTest::newRow("each weight: Good 2") << 550 << 0 << 0 << 1 << 0 << 0 << 0 << 2;
        QTest::newRow("each weight: Boo 6") << 550 << 0 << 0 << 0 << 1 << 0 << 0 << 6;
        QTest::newRow("each weight: Miss 10") << 550 << 0 << 0 << 0 << 0 << 1 << 0 << 10;
        QTest::newRow("exactly maxDp is kept") << 550 << 0 << 550 << 0 << 0 << 0 << 0 << 550;
        QTest::newRow("one above maxDp gives maxDp") << 550 << 0 << 551 << 0 << 0 << 0 << 0 << 550;
        QTest::newRow("Great -3 with Good 2 loses 1") << 550 << 0 << -3 << 2 << 0 << 0 << 0 << 1;
        QTest::newRow("Great -1 alone gives maxDp") << 550 << 0 << -1 << 0 << 0 << 0 << 0 << 550;
        QTest::newRow("Miss 99999 gives maxDp") << 550 << 0 << 0 << 0 << 0 << 99999 << 0 << 550;
        QTest::newRow("Great 65536 gives maxDp, no 16-bit wrap") << 550 << 0 << 65536 << 0 << 0 << 0 << 0 << 550;
        QTest::newRow("Miss 6554 gives maxDp, no 16-bit wrap") << 550 << 0 << 0 << 0 << 0 << 6554 << 0 << 550;
        QTest::newRow("Good at the 32-bit limit gives maxDp") << 550 << 0 << 0 << INT32_MAX << 0 << 0 << 0 << 550;
        QTest::newRow("Miss far negative gives maxDp") << 550 << 0 << 0 << 0 << 0 << INT32_MIN << 0 << 550;
        QTest::newRow("large terms that cancel stay exact") << 550 << 0 << 2147483646 << -1073741823 << 0 << 3 << 0 << 30;
        QTest::newRow("negative Great offsets a freeze penalty") << 636 << 6 << -6 << 0 << 0 << 0 << 5 << 0;
    }

    void computeDpLost()
    {
        QFETCH(int, maxDp);
        QFETCH(int, freezes);
        QFETCH(int, great);
        QFETCH(int, good);
        QFETCH(int, boo);
        QFETCH(int, miss);
        QFETCH(int, ok);
        QFETCH(int, expected);
        QCOMPARE(int(ComputeDpLost(uint16_t(maxDp), uint8_t(freezes), great, good, boo, miss, ok)), expected);
    }

    void percentHundredths_data()
    {
        QTest::addColumn<int>("maxDp");
        QTest::addColumn<int>("lost");
        QTest::addColumn<int>("expected");
        QTest::newRow("worked example 90.88") << 636 << 58 << 9088;
        QTest::newRow("allowance 44 keeps AA") << 636 << 44 << 9308;
        QTest::newRow("one more is A") << 636 << 45 << 9292;
        QTest::newRow("empty entry on the example chart") << 636 << 36 << 9433;
        QTest::newRow("nothing lost is exactly 10000") << 550 << 0 << 10000;
        QTest::newRow("everything lost is 0") << 550 << 550 << 0;
        QTest::newRow(".59 with 20 lost") << 550 << 20 << 9636;
        QTest::newRow("1998 with 20 lost") << 658 << 20 << 9696;
        QTest::newRow(".59 with 466 lost") << 550 << 466 << 1527;
        QTest::newRow("truncates toward zero") << 3 << 1 << 6666;
        QTest::newRow("stored loss above maxDp keeps nothing") << 550 << 551 << 0;
        QTest::newRow("stored loss of 65535 keeps nothing") << 550 << 65535 << 0;
        QTest::newRow("largest 16-bit chart") << 65535 << 1 << 9999;
    }

    void percentHundredths()
    {
        QFETCH(int, maxDp);
        QFETCH(int, lost);
        QFETCH(int, expected);
        QCOMPARE(int(PercentHundredths(uint16_t(maxDp), uint16_t(lost))), expected);
    }

    void rankName_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<QByteArray>("rank");
        QTest::newRow("10000 AAA") << 10000 << QByteArray("AAA");
        QTest::newRow("9999 AA") << 9999 << QByteArray("AA");
        QTest::newRow("9300 AA") << 9300 << QByteArray("AA");
        QTest::newRow("9299 A") << 9299 << QByteArray("A");
        QTest::newRow("8000 A") << 8000 << QByteArray("A");
        QTest::newRow("7999 B") << 7999 << QByteArray("B");
        QTest::newRow("6500 B") << 6500 << QByteArray("B");
        QTest::newRow("6499 C") << 6499 << QByteArray("C");
        QTest::newRow("4500 C") << 4500 << QByteArray("C");
        QTest::newRow("4499 D") << 4499 << QByteArray("D");
        QTest::newRow("1 D") << 1 << QByteArray("D");
        QTest::newRow("0 E") << 0 << QByteArray("E");
    }

    void rankName()
    {
        QFETCH(int, percent);
        QFETCH(QByteArray, rank);
        QCOMPARE(QByteArray(RankName(uint16_t(percent))), rank);
        QCOMPARE(QByteArray(RankNameAt(RankIndex(uint16_t(percent)))), rank);
    }

    void aaAllowanceIsTheLargestLossStillAa()
    {
        for (int maxDp = 1; maxDp <= 3657; ++maxDp) {
            uint8_t allowance = AaAllowance(uint16_t(maxDp));
            QCOMPARE(int(allowance), maxDp * 7 / 100);
            QVERIFY2(PercentHundredths(uint16_t(maxDp), allowance) >= 9300, qPrintable(QString::number(maxDp)));
            QVERIFY2(PercentHundredths(uint16_t(maxDp), uint16_t(allowance + 1)) < 9300,
                     qPrintable(QString::number(maxDp)));
        }
    }

    void aaAllowanceKeepsEightBits()
    {
        QCOMPARE(int(AaAllowance(1446)), 101);
        QCOMPARE(int(AaAllowance(550)), 38);
        QCOMPARE(int(AaAllowance(3658)), 0);  // 256 wraps: beyond every chart the table can hold
    }
};

QTEST_GUILESS_MAIN(TestDpScoring)
#include "tst_dp_scoring.moc"
