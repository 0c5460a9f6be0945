#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>

#include <QtTest>

#include "chart_fixture.h"
#include "chart_ordering.h"

namespace {

QByteArray Folded(const ChartRecord *c)
{
    return QByteArray(c->name).toLower();
}

int ReferencePercent(const ChartRecord *c)
{
    if (c->dpLost > c->maxDp)
        return 0;
    return (c->maxDp - c->dpLost) * 10000 / c->maxDp;
}

// Each key's order with the direction set, written as a tuple to sort ascending by.
bool ReferenceBefore(const ChartRecord *x, const ChartRecord *y, int key)
{
    auto tupleOf = [key](const ChartRecord *c) {
        int diff = std::min(int(c->dpLost), int(c->maxDp)) - std::min(int(c->enemyDpLost), int(c->maxDp));
        switch (key) {
        case 1: return std::make_tuple(-int(c->year), -int(c->month), -int(c->day), Folded(c));
        case 2: return std::make_tuple(int(c->aaAllowance), 0, 0, Folded(c));
        case 3:
        case 5: return std::make_tuple(-ReferencePercent(c), 0, 0, Folded(c));
        case 4: return std::make_tuple(int(c->dpLost), -ReferencePercent(c), 0, Folded(c));
        case 6: return std::make_tuple(-diff, 0, 0, Folded(c));
        default: return std::make_tuple(0, 0, 0, Folded(c));
        }
    };
    return tupleOf(x) < tupleOf(y);
}

QStringList Names(const ChartOrder &order, int count = ChartCount)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QString::fromLatin1(order[i]->name);
    return names;
}

int Position(const ChartOrder &order, const char *name)
{
    for (int i = 0; i < ChartCount; ++i)
        if (std::strcmp(order[i]->name, name) == 0)
            return i;
    return -1;
}

}  // namespace

class TestChartOrdering : public QObject {
    Q_OBJECT

    ChartTableSnapshot pristine_;
    ChartOrder order_{};

    // Scores with many ties in every key, dates sharing days, and stored losses above maxDp on
    // both sides of the comparison; the titles stay distinct.
    void ScoreTableWithTies()
    {
        std::mt19937 random(7);
        for (ChartRecord &c : ChartTable) {
            switch (random() % 6) {
            case 0: break;  // unscored
            case 1: Score(c, 0, 6, 9, 2005); break;
            case 2: Score(c, uint16_t(random() % 40), uint8_t(1 + random() % 3), 1, uint16_t(2004 + random() % 3)); break;
            case 3: Score(c, uint16_t(c.maxDp / 2), 31, 12, 2004); break;
            case 4: Score(c, uint16_t(c.maxDp + 1 + random() % 100), 2, 1, 2005); break;
            default: Score(c, uint16_t(random() % c.maxDp), uint8_t(1 + random() % 28), uint8_t(1 + random() % 12), 2006); break;
            }
            c.enemyDpLost = uint16_t(random() % 4 == 0 ? 65535 - random() % 3 : random() % 50);
        }
    }

private slots:
    void init()
    {
        pristine_.Restore();
        InitChartTable(&order_);
    }

    void startupOrderIsAlreadySortedByName()
    {
        QCOMPARE(SortCharts(&order_, SortByName, true), 1);
        for (int i = 0; i < ChartCount; ++i)
            QCOMPARE(order_[i], &ChartTable[i]);
    }

    void nameDescendingReversesTheTable()
    {
        SortCharts(&order_, SortByName, false);
        QCOMPARE(QByteArray(order_[0]->name), QByteArray("YOZORA NO MUKO"));
        QCOMPARE(QByteArray(order_[ChartCount - 1]->name), QByteArray(".59"));
        for (int i = 0; i < ChartCount; ++i)
            QCOMPARE(order_[i], &ChartTable[ChartCount - 1 - i]);
    }

    void everyKeyInBothDirections_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("0 name") << 0;
        QTest::newRow("1 date, newest first, then title") << 1;
        QTest::newRow("2 AA allowance, smallest first, then title") << 2;
        QTest::newRow("3 rank by percentage, then title") << 3;
        QTest::newRow("4 DP lost, then percentage, then title") << 4;
        QTest::newRow("5 percentage, then title") << 5;
        QTest::newRow("6 signed difference, then title") << 6;
    }

    void everyKeyInBothDirections()
    {
        QFETCH(int, key);
        ScoreTableWithTies();
        ChartOrder expected = order_;
        std::sort(expected.begin(), expected.end(),
                  [key](const ChartRecord *x, const ChartRecord *y) { return ReferenceBefore(x, y, key); });

        SortCharts(&order_, uint8_t(key), true);
        QCOMPARE(Names(order_), Names(expected));

        std::reverse(expected.begin(), expected.end());
        SortCharts(&order_, uint8_t(key), false);
        QCOMPARE(Names(order_), Names(expected));

        // from the reverse order back again, so that the sort has real work to do both ways
        SortCharts(&order_, uint8_t(key), true);
        std::reverse(expected.begin(), expected.end());
        QCOMPARE(Names(order_), Names(expected));
    }

    void ranksAndPercentagesGiveTheSameOrder()
    {
        ScoreTableWithTies();
        ChartOrder byRank = order_;
        SortCharts(&byRank, SortByRank, false);
        SortCharts(&order_, SortByPercent, false);
        QCOMPARE(Names(order_), Names(byRank));
    }

    void dateComparesYearFirst()
    {
        Score(Chart("ABSOLUTE"), 10, 2, 1, 2005);
        Score(Chart("1998"), 10, 31, 12, 2004);
        Score(Chart(".59"), 10, 2, 1, 2005);
        SortCharts(&order_, SortByDate, true);
        QCOMPARE(Names(order_, 3), QStringList({".59", "ABSOLUTE", "1998"}));
        // unscored charts follow every dated one, in title order
        QCOMPARE(QByteArray(order_[3]->name), QByteArray(ChartTable[1].name));
        QCOMPARE(QByteArray(order_[ChartCount - 1]->name), QByteArray("YOZORA NO MUKO"));
    }

    void dpLostTieFallsToPercentage()
    {
        Score(Chart(".59"), 20);
        Score(Chart("1998"), 20);
        SortCharts(&order_, SortByDpLost, true);
        QCOMPARE(Names(order_, 2), QStringList({"1998", ".59"}));
    }

    void unscoredChartStandsWhereItsMaxDpFalls()
    {
        // unscored ".59" loses 550; "5.1.1." (maxDp 206) unscored loses 206, 1998 has 549 lost
        Score(Chart("1998"), 549);
        SortCharts(&order_, SortByDpLost, true);
        QVERIFY(Position(order_, "5.1.1.") < Position(order_, "1998"));
        QVERIFY(Position(order_, "1998") < Position(order_, ".59"));
        int at = Position(order_, ".59");
        for (int i = 0; i < ChartCount; ++i)
            QVERIFY2(i < at ? order_[i]->dpLost <= 550 : order_[i]->dpLost >= 550, order_[i]->name);
    }

    void differenceIsSignedAndWide_data()
    {
        QTest::addColumn<int>("ownA");
        QTest::addColumn<int>("enemyA");
        QTest::addColumn<int>("ownB");
        QTest::addColumn<int>("enemyB");
        QTest::newRow("1 before -1") << 11 << 10 << 10 << 11;
        QTest::newRow("-1 before -2") << 10 << 11 << 10 << 12;
        QTest::newRow("no comparison value: own loss is the difference") << 30 << 0 << 10 << 0;
        QTest::newRow("own 40000 counts as maxDp 664, still before 0") << 40000 << 0 << 5 << 5;
        QTest::newRow("own 60000 on .59 counts as its maxDp 550, after 600") << 600 << 0 << 60000 << 0;
        QTest::newRow("losses above maxDp on both sides draw, before -100") << 700 << 60000 << 0 << 100;
    }

    void differenceIsSignedAndWide()
    {
        QFETCH(int, ownA);
        QFETCH(int, enemyA);
        QFETCH(int, ownB);
        QFETCH(int, enemyB);
        // "YOZORA NO MUKO" comes last by title, so only the difference can put it first
        ChartRecord &a = Chart("YOZORA NO MUKO");
        ChartRecord &b = Chart(".59");
        Score(a, uint16_t(ownA));
        a.enemyDpLost = uint16_t(enemyA);
        Score(b, uint16_t(ownB));
        b.enemyDpLost = uint16_t(enemyB);
        QVERIFY(ChartPrecedes(a, b, SortByDifference, true));
        QVERIFY(!ChartPrecedes(b, a, SortByDifference, true));
        QVERIFY(ChartPrecedes(b, a, SortByDifference, false));
    }

    void keyOutsideRangeNeverPrecedes()
    {
        const ChartRecord &a = ChartTable[0];
        const ChartRecord &b = ChartTable[1];
        for (int key : {7, 8, 255}) {
            QVERIFY(!ChartPrecedes(a, b, uint8_t(key), true));
            QVERIFY(!ChartPrecedes(a, b, uint8_t(key), false));
            QVERIFY(!ChartPrecedes(b, a, uint8_t(key), false));
        }
        std::reverse(order_.begin(), order_.end());
        ChartOrder before = order_;
        QCOMPARE(SortCharts(&order_, 7, false), 1);
        QCOMPARE(order_, before);
    }

    void missingOrderIsLeftAlone() { QCOMPARE(SortCharts(nullptr, SortByName, true), 0); }

    void titlesEqualWithoutCase()
    {
        // test data only: two titles no built-in pair shares
        for (int i = 0; i < ChartCount; ++i)
            std::snprintf(ChartTable[i].name, sizeof ChartTable[i].name, "title %03d", i);
        std::strcpy(ChartTable[100].name, "Alpha");
        std::strcpy(ChartTable[200].name, "ALPHA");
        QVERIFY(!ChartPrecedes(ChartTable[100], ChartTable[200], SortByName, true));
        QVERIFY(!ChartPrecedes(ChartTable[200], ChartTable[100], SortByName, true));
        QVERIFY(ChartPrecedes(ChartTable[100], ChartTable[200], SortByName, false));
        QVERIFY(ChartPrecedes(ChartTable[200], ChartTable[100], SortByName, false));

        // direction set: the pair is never exchanged and the sort stops early
        int passes = SortCharts(&order_, SortByName, true);
        QVERIFY(passes < 255);
        QCOMPARE(Names(order_, 3), QStringList({"Alpha", "ALPHA", "title 000"}));

        // direction clear: exchanged every time it is compared, so only the bound ends the sort
        passes = SortCharts(&order_, SortByName, false);
        QCOMPARE(passes, 255);
        QCOMPARE(QByteArray(order_[ChartCount - 1]->name).toLower(), QByteArray("alpha"));
        QCOMPARE(QByteArray(order_[ChartCount - 2]->name).toLower(), QByteArray("alpha"));
    }

    void compareNamesNoCase_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("letter case is ignored") << QByteArray("MAXX unlimited") << QByteArray("maxx UNLIMITED") << 0;
        QTest::newRow("prefix sorts first") << QByteArray("MAXX") << QByteArray("maxx 2") << -1;
        QTest::newRow("first difference decides") << QByteArray("abc") << QByteArray("ABD") << -1;
        QTest::newRow("dot before digits") << QByteArray(".59") << QByteArray("1998") << -1;
        QTest::newRow("blank before letters") << QByteArray("A B") << QByteArray("AB") << -1;
        QTest::newRow("bytes above 127 after ASCII") << QByteArray("\xe9t\xe9") << QByteArray("zeta") << 1;
        QTest::newRow("empty before anything") << QByteArray("") << QByteArray("a") << -1;
    }

    void compareNamesNoCase()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, sign);
        int result = CompareNamesNoCase(a.constData(), b.constData());
        QCOMPARE((result > 0) - (result < 0), sign);
        int reversed = CompareNamesNoCase(b.constData(), a.constData());
        QCOMPARE((reversed > 0) - (reversed < 0), -sign);
    }
};

QTEST_GUILESS_MAIN(TestChartOrdering)
#include "tst_chart_ordering.moc"
