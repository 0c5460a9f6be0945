#include <QtTest>

#include "chart_fixture.h"
#include "totals.h"

// S, the sum of maxDp over the built-in table, appears in the normal-mode DP caption.
static const uint32_t BuiltInSumMaxDp = 189842;

class TestTotals : public QObject {
    Q_OBJECT

    ChartTableSnapshot pristine_;
    ChartOrder order_{};

    static TotalsCaptions Captions(bool compareMode)
    {
        return TotalsCaptionTexts(TallyCharts(ChartTable), compareMode);
    }

private slots:
    void init()
    {
        pristine_.Restore();
        InitChartTable(&order_);
    }

    void sumOfMaxDpIsTheTablesSum()
    {
        uint32_t sum = 0;
        for (const ChartRecord &c : ChartTable)
            sum += c.maxDp;
        QCOMPARE(sum, BuiltInSumMaxDp);
        QCOMPARE(TallyCharts(ChartTable).sumMaxDp, BuiltInSumMaxDp);
        QVERIFY(uint64_t(sum) * 10000 <= UINT32_MAX);  // the percentage product of the totals fits 32 bits
    }

    void normalCaptions_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("ranks");
        QTest::addColumn<QByteArray>("dp");
        QTest::newRow("all charts unscored") << QByteArray("none") << QByteArray("Rank: E:256   ")
                                             << QByteArray("Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )");
        QTest::newRow("every chart perfect") << QByteArray("all perfect") << QByteArray("Rank: AAA:256   ")
                                             << QByteArray("Total DPs: 189842 / 189842      ( 100.00% - Miss: 0 )");
        QTest::newRow(".59 with 466 lost is D") << QByteArray(".59 466") << QByteArray("Rank: D:1   E:255   ")
                                                << QByteArray("Total DPs: 84 / 189842      ( 0.04% - Miss: 189758 )");
        QTest::newRow(".59 perfect, percentage from the sums") << QByteArray(".59 0") << QByteArray("Rank: AAA:1   E:255   ")
                                                             << QByteArray("Total DPs: 550 / 189842      ( 0.28% - Miss: 189292 )");
        QTest::newRow("2 AAA, 10 AA, 1 B, 243 E, zero counts omitted") << QByteArray("mixed")
                                                                      << QByteArray("Rank: AAA:2   AA:10   B:1   E:243   ")
                                                                      << QByteArray();
        QTest::newRow("stored loss above maxDp counts as maxDp and E") << QByteArray(".59 9999")
                                                                      << QByteArray("Rank: E:256   ")
                                                                      << QByteArray("Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )");
    }

    void normalCaptions()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, ranks);
        QFETCH(QByteArray, dp);
        if (setup == "all perfect") {
            for (ChartRecord &c : ChartTable)
                Score(c, 0);
        } else if (setup == "mixed") {
            for (int i = 0; i < 2; ++i)
                Score(ChartTable[i], 0);
            for (int i = 2; i < 12; ++i)
                Score(ChartTable[i], AaAllowance(ChartTable[i].maxDp));
            Score(ChartTable[12], uint16_t(ChartTable[12].maxDp / 4));  // 75.00 is B
        } else if (setup.startsWith(".59 ")) {
            Score(Chart(".59"), uint16_t(setup.mid(4).toInt()));
        }
        TotalsCaptions captions = Captions(false);
        QCOMPARE(QByteArray(captions.ranks), ranks);
        if (!dp.isEmpty())
            QCOMPARE(QByteArray(captions.dp), dp);
    }

    void percentageHundredthsKeepTheirLeadingZero()
    {
        // 10 per mille of the total gained: a percentage below 0.10 shows "0.0x"
        uint32_t target = BuiltInSumMaxDp * 5 / 10000 + 1;  // 5 hundredths of a percent
        Score(Chart("MAXX UNLIMITED"), uint16_t(1446 - target));
        QVERIFY(QByteArray(Captions(false).dp).contains("( 0.05% - Miss: "));
    }

    void rankCountsAddUpToAllCharts()
    {
        for (int i = 0; i < ChartCount; ++i)
            Score(ChartTable[i], uint16_t(ChartTable[i].maxDp * (i % 9) / 8));
        TotalsTally tally = TallyCharts(ChartTable);
        int sum = 0;
        for (uint16_t count : tally.rankCounts)
            sum += count;
        QCOMPARE(sum, ChartCount);
        QCOMPARE(tally.wonCount + tally.lostCount + tally.drawnCount, ChartCount);
    }

    void comparisonCaptions_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("ranks");
        QTest::addColumn<QByteArray>("dp");
        QTest::newRow("comparison equal to own scores") << QByteArray("equal") << QByteArray("Won: 0   Lost: 0   Drawn: 256")
                                                        << QByteArray("( Total DP Won: 0   Total DP Lost: 0   Difference: 0 )");
        QTest::newRow("won more than lost gets a plus") << QByteArray("55 40") << QByteArray("Won: 1   Lost: 1   Drawn: 254")
                                                        << QByteArray("( Total DP Won: 55   Total DP Lost: 40   Difference: +15 )");
        QTest::newRow("lost more than won is negative") << QByteArray("40 55") << QByteArray("Won: 1   Lost: 1   Drawn: 254")
                                                        << QByteArray("( Total DP Won: 40   Total DP Lost: 55   Difference: -15 )");
        QTest::newRow("equal margins show 0 without sign") << QByteArray("30 30") << QByteArray("Won: 1   Lost: 1   Drawn: 254")
                                                           << QByteArray("( Total DP Won: 30   Total DP Lost: 30   Difference: 0 )");
        QTest::newRow("never compared: every chart lost by its whole maxDp")
            << QByteArray("no file") << QByteArray("Won: 0   Lost: 256   Drawn: 0")
            << QByteArray("( Total DP Won: 0   Total DP Lost: 189842   Difference: -189842 )");
        QTest::newRow("rival's 40000 on .59 counts as its maxDp: won by 550")
            << QByteArray("wide") << QByteArray("Won: 1   Lost: 0   Drawn: 255")
            << QByteArray("( Total DP Won: 550   Total DP Lost: 0   Difference: +550 )");
    }

    void comparisonCaptions()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, ranks);
        QFETCH(QByteArray, dp);
        if (setup != "no file")
            for (ChartRecord &c : ChartTable)
                c.enemyDpLost = c.dpLost;
        if (setup == "wide") {
            Score(Chart(".59"), 0);
            Chart(".59").enemyDpLost = 40000;
        } else if (setup.contains(' ') && setup != "no file") {
            QList<QByteArray> margins = setup.split(' ');
            Score(Chart(".59"), 100);
            Chart(".59").enemyDpLost = uint16_t(100 + margins[0].toInt());  // won
            Score(Chart("1998"), uint16_t(100 + margins[1].toInt()));
            Chart("1998").enemyDpLost = 100;  // lost
        }
        TotalsCaptions captions = Captions(true);
        QCOMPARE(QByteArray(captions.ranks), ranks);
        QCOMPARE(QByteArray(captions.dp), dp);
    }

    void comparisonDoesNotShowTheNormalTexts()
    {
        TotalsCaptions captions = Captions(true);
        QVERIFY(!QByteArray(captions.ranks).contains("Rank"));
        QVERIFY(!QByteArray(captions.dp).contains("Total DPs"));
    }
};

QTEST_GUILESS_MAIN(TestTotals)
#include "tst_totals.moc"
