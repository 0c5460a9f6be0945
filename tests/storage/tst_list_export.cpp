#include <cstring>

#include <QtTest>

#include "chart_fixture.h"
#include "list_export.h"

// The list as a spreadsheet reads it: the line of one chart, and a file larger than any score
// file.
class TestListExport : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }
    uint32_t plays_[ChartCount] = {};

    QList<QByteArray> Lines(bool comparing)
    {
        return QByteArray::fromStdString(FormatListExport(f().order, plays_, comparing)).split('\n');
    }

private slots:
    void init() { fixture_ = std::make_unique<TableFixture>(); std::memset(plays_, 0, sizeof plays_); }
    void cleanup() { fixture_.reset(); }

    void chartLine_data()
    {
        QTest::addColumn<QByteArray>("title");  // put in place of ABSOLUTE's
        QTest::addColumn<int>("dpLost");        // -1: no score
        QTest::addColumn<int>("rival");         // -1: not comparing
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("no score: no date") << QByteArray() << -1 << -1 << QByteArray("ABSOLUTE,311,0,622,622,0,0.00,E,,3");
        QTest::newRow("scored, percent without a leading zero") << QByteArray() << 590 << -1
                                                                << QByteArray("ABSOLUTE,311,0,622,590,32,5.14,D,2006-01-02,3");
        QTest::newRow("perfect") << QByteArray() << 0 << -1 << QByteArray("ABSOLUTE,311,0,622,0,622,100.00,AAA,2006-01-02,3");
        QTest::newRow("loss above max DP from a file keeps nothing") << QByteArray() << 9999 << -1
                                                                     << QByteArray("ABSOLUTE,311,0,622,9999,0,0.00,E,2006-01-02,3");
        QTest::newRow("comma quoted") << QByteArray("A, B") << 10 << -1 << QByteArray("\"A, B\",311,0,622,10,612,98.39,AA,2006-01-02,3");
        QTest::newRow("quotes doubled") << QByteArray("Say \"hi\"") << 10 << -1
                                        << QByteArray("\"Say \"\"hi\"\"\",311,0,622,10,612,98.39,AA,2006-01-02,3");
        QTest::newRow("comparing: rival and difference") << QByteArray() << 10 << 30
                                                         << QByteArray("ABSOLUTE,311,0,622,10,612,98.39,AA,2006-01-02,3,30,-20");
        QTest::newRow("comparing, rival above max DP capped") << QByteArray() << 10 << 9999
                                                              << QByteArray("ABSOLUTE,311,0,622,10,612,98.39,AA,2006-01-02,3,9999,-612");
    }

    void chartLine()
    {
        QFETCH(QByteArray, title);
        QFETCH(int, dpLost);
        QFETCH(int, rival);
        QFETCH(QByteArray, line);
        ChartRecord &chart = Chart("ABSOLUTE");
        if (dpLost >= 0)
            Score(chart, uint16_t(dpLost), 2, 1, 2006);
        if (rival >= 0)
            chart.enemyDpLost = uint16_t(rival);
        plays_[chart.index] = 3;
        if (!title.isEmpty())
            std::strcpy(chart.name, title.constData());
        const QList<QByteArray> lines = Lines(rival >= 0);
        QCOMPARE(lines.size(), ChartCount + 2);  // and the empty text after the last line end
        QVERIFY(lines.contains(line));
    }

    // 256 titles of 127 quotes need more room than the score file's writer keeps.
    void largestListIsWrittenWhole()
    {
        for (ChartRecord &chart : ChartTable) {
            std::memset(chart.name, '"', ChartNameSize - 1);
            chart.name[ChartNameSize - 1] = '\0';
        }
        SaveFailure failure;
        QVERIFY2(WriteListExport("Scores.csv", f().order, plays_, true, &failure), failure.reason);
        const QByteArray text = ReadText("Scores.csv");
        QVERIFY(text.size() > 64 * 1024);
        QCOMPARE(text, QByteArray::fromStdString(FormatListExport(f().order, plays_, true)));
        QCOMPARE(ReadBytes("Scores.csv").count(SystemLineEnd), ChartCount + 1);
    }
};

QTEST_APPLESS_MAIN(TestListExport)
#include "tst_list_export.moc"
