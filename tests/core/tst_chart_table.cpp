#include <cstring>

#include <QtTest>

#include "chart_fixture.h"
#include "chart_ordering.h"
#include "chart_table.h"

class TestChartTable : public QObject {
    Q_OBJECT

    ChartTableSnapshot pristine_;
    ChartOrder order_{};

    static int CountIf(bool (*predicate)(const ChartRecord &))
    {
        int count = 0;
        for (const ChartRecord &chart : ChartTable)
            count += predicate(chart) ? 1 : 0;
        return count;
    }

private slots:
    void init()
    {
        pristine_.Restore();
        InitChartTable(&order_);
    }

    void tableHoldsTitlesInStrictCaseInsensitiveOrder()
    {
        QCOMPARE(QByteArray(ChartTable[0].name), QByteArray(".59"));
        QCOMPARE(QByteArray(ChartTable[ChartCount - 1].name), QByteArray("YOZORA NO MUKO"));
        for (int i = 1; i < ChartCount; ++i)
            QVERIFY2(CompareNamesNoCase(ChartTable[i - 1].name, ChartTable[i].name) < 0, ChartTable[i].name);
    }

    void tableCountsFreezeAndChallengeCharts()
    {
        QCOMPARE(CountIf([](const ChartRecord &c) { return c.freezes > 0; }), 140);
        QCOMPARE(CountIf([](const ChartRecord &c) {
                     size_t n = std::strlen(c.name);
                     return n > 10 && std::strcmp(c.name + n - 10, " Challenge") == 0;
                 }),
                 33);
    }

    void tableExtremesBelongToTheirCharts()
    {
        const ChartRecord *fewestSteps = &ChartTable[0], *mostSteps = &ChartTable[0];
        const ChartRecord *mostFreezes = &ChartTable[0], *largestMaxDp = &ChartTable[0];
        const ChartRecord *longest = &ChartTable[0];
        for (const ChartRecord &c : ChartTable) {
            if (c.steps < fewestSteps->steps) fewestSteps = &c;
            if (c.steps > mostSteps->steps) mostSteps = &c;
            if (c.freezes > mostFreezes->freezes) mostFreezes = &c;
            if (c.maxDp > largestMaxDp->maxDp) largestMaxDp = &c;
            if (std::strlen(c.name) > std::strlen(longest->name)) longest = &c;
        }
        QCOMPARE(QByteArray(fewestSteps->name), QByteArray("5.1.1."));
        QCOMPARE(fewestSteps->steps, uint16_t(103));
        QCOMPARE(QByteArray(mostSteps->name), QByteArray("PARANOIA survivor MAX Challenge"));
        QCOMPARE(mostSteps->steps, uint16_t(613));
        QCOMPARE(QByteArray(mostFreezes->name), QByteArray("MAXX UNLIMITED"));
        QCOMPARE(mostFreezes->freezes, uint8_t(56));
        QCOMPARE(largestMaxDp, mostFreezes);
        QCOMPARE(QByteArray(longest->name), QByteArray("MATSURI JAPAN (FROM NONSTOP MEGAMIX) Challenge"));
        QCOMPARE(std::strlen(longest->name), size_t(46));

        // each extreme is held by one chart alone
        for (const ChartRecord &c : ChartTable) {
            if (&c == fewestSteps) continue;
            QVERIFY2(c.steps > 103 && c.steps <= 613, c.name);
            if (&c == mostSteps) continue;
            QVERIFY2(c.steps < 613, c.name);
        }
        for (const ChartRecord &c : ChartTable) {
            if (&c == mostFreezes) continue;
            QVERIFY2(c.freezes < 56, c.name);
            QVERIFY2(c.maxDp < 1446 && c.maxDp >= 206, c.name);
            QVERIFY2(c.aaAllowance <= 99, c.name);
            QVERIFY2(c.maxDp * 7 / 100 <= 99, c.name);
        }
        for (const ChartRecord &c : ChartTable)
            if (&c != longest)
                QVERIFY2(std::strlen(c.name) < 46, c.name);
    }

    void titlesArePrintableAsciiWithoutTheSixBetweenZAndA()
    {
        bool hasFortyCharacterTitle = false;
        for (const ChartRecord &c : ChartTable) {
            size_t length = std::strlen(c.name);
            QVERIFY2(length > 0 && length < ChartNameSize, c.name);
            hasFortyCharacterTitle = hasFortyCharacterTitle || length == 40;
            for (size_t i = 0; i < length; ++i) {
                unsigned char ch = static_cast<unsigned char>(c.name[i]);
                QVERIFY2(ch >= 0x20 && ch <= 0x7e, c.name);
                QVERIFY2(ch < '[' || ch > '`', c.name);
            }
        }
        QVERIFY(hasFortyCharacterTitle);
    }

    void tellingRows_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("freezes");
        QTest::addColumn<int>("maxDp");
        QTest::addColumn<int>("aaAllowance");
        QTest::newRow("first row .59") << QByteArray(".59") << 275 << 0 << 550 << 38;
        QTest::newRow("1998 with six freezes") << QByteArray("1998") << 311 << 6 << 658 << 46;
        QTest::newRow("fewest steps 5.1.1.") << QByteArray("5.1.1.") << 103 << 0 << 206 << 14;
        QTest::newRow("ABSOLUTE") << QByteArray("ABSOLUTE") << 311 << 0 << 622 << 43;
        QTest::newRow("41-character title") << QByteArray("AFRONOVA (FROM NONSTOP MEGAMIX) Challenge") << 355 << 9 << 764 << 53;
        QTest::newRow("longest title") << QByteArray("MATSURI JAPAN (FROM NONSTOP MEGAMIX) Challenge") << 279 << 3 << 576 << 40;
        QTest::newRow("allowance above 99") << QByteArray("MAXX UNLIMITED") << 555 << 56 << 1446 << 101;
        QTest::newRow("most steps") << QByteArray("PARANOIA survivor MAX Challenge") << 613 << 4 << 1250 << 87;
        QTest::newRow("last row") << QByteArray("YOZORA NO MUKO") << 272 << 20 << 664 << 46;
    }

    void tellingRows()
    {
        QFETCH(QByteArray, title);
        QFETCH(int, steps);
        QFETCH(int, freezes);
        QFETCH(int, maxDp);
        QFETCH(int, aaAllowance);
        const ChartRecord *chart = FindChartByName(title.constData());
        QVERIFY(chart != nullptr);
        QCOMPARE(int(chart->steps), steps);
        QCOMPARE(int(chart->freezes), freezes);
        QCOMPARE(int(chart->maxDp), maxDp);
        QCOMPARE(int(chart->aaAllowance), aaAllowance);
        QCOMPARE(int(std::strlen(chart->name)), title.size());
    }

    void initSetsIdentityScoresAndOrder()
    {
        for (int i = 0; i < ChartCount; ++i) {
            QCOMPARE(order_[i], &ChartTable[i]);
            QCOMPARE(ChartTable[i].index, uint32_t(i));
            QCOMPARE(ChartTable[i].dpLost, ChartTable[i].maxDp);
            QCOMPARE(ChartTable[i].maxDp, uint16_t(ChartTable[i].steps * 2 + ChartTable[i].freezes * 6));
            QCOMPARE(ChartTable[i].day, uint8_t(0));
            QCOMPARE(ChartTable[i].year, uint16_t(0));
            QCOMPARE(ChartTable[i].enemyDpLost, uint16_t(0));
        }
    }

    void initWithoutOrderChangesNothing()
    {
        ChartTable[5].dpLost = 1;
        InitChartTable(nullptr);
        QCOMPARE(ChartTable[5].dpLost, uint16_t(1));
    }

    void findChartByName_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expectedIndex");
        QTest::newRow("first title") << QByteArray(".59") << 0;
        QTest::newRow("last title") << QByteArray("YOZORA NO MUKO") << 255;
        QTest::newRow("exact mixed case") << QByteArray("PARANOIA survivor MAX Challenge") << -2;
        QTest::newRow("other letter case is no match") << QByteArray("maxx unlimited") << -1;
        QTest::newRow("trailing blank is no match") << QByteArray("MAXX UNLIMITED ") << -1;
        QTest::newRow("leading blank is no match") << QByteArray(" .59") << -1;
        QTest::newRow("prefix of a title is no match") << QByteArray("MAXX") << -1;
        QTest::newRow("prefix of the title after a digit, no match") << QByteArray("ABSOLUT") << -1;
        QTest::newRow("a title's last letter in lower case, no match") << QByteArray("ABSOLUTe") << -1;
        QTest::newRow("title plus more is no match") << QByteArray("ABSOLUTE Challenge") << -1;
        QTest::newRow("empty text") << QByteArray("") << -1;
        // where the table's order and the titles' byte order part
        QTest::newRow("before a capital that sorts first") << QByteArray("Marimba Mayhem") << -2;
        QTest::newRow("after a lower case that sorts last") << QByteArray("MATSURI JAPAN (FROM NONSTOP MEGAMIX) Challenge") << -2;
        QTest::newRow("next to the last row") << QByteArray("Yo-Yo Orbit") << -2;
        QTest::newRow("between two titles") << QByteArray("Marimba Mayhen") << -1;
    }

    void findChartByName()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expectedIndex);
        const ChartRecord *chart = FindChartByName(text.constData());
        if (expectedIndex == -1) {
            QCOMPARE(chart, nullptr);
        } else {
            QVERIFY(chart != nullptr);
            QCOMPARE(QByteArray(chart->name), text);
            if (expectedIndex >= 0)
                QCOMPARE(int(chart->index), expectedIndex);
        }
    }

    void findChartByNameWithoutText() { QCOMPARE(FindChartByName(nullptr), nullptr); }
};

QTEST_GUILESS_MAIN(TestChartTable)
#include "tst_chart_table.moc"
