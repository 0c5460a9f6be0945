#include <QClipboard>
#include <QDate>
#include <QGuiApplication>

#include "window_fixture.h"

namespace {


QString Today(const char *format)
{
    return QDate::currentDate().toString(QString::fromLatin1(format));
}

}  // namespace

class TestWindowEntry : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    QList<QByteArray> ScoreFileLines() { return ReadText("Scores.txt").split('\n'); }


private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void roadOfOneInsert()
    {
        f().Open();
        f().ClickRow("ABSOLUTE");
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("622"));
        f().Type("MemoGreat", "4");
        f().Type("MemoGood", "1");
        f().Type("MemoMiss", "");
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("6"));
        QCOMPARE(f().LabelText("LabelRankResult"), QStringLiteral("AA"));
        QCOMPARE(f().LabelText("LabelPercResult"), QStringLiteral("99.03%"));
        f().Click("ButtonInsert");

        QList<QByteArray> lines = ScoreFileLines();
        QCOMPARE(lines.size(), 1025);
        int at = lines.indexOf("ABSOLUTE");
        QCOMPARE(at % 4, 0);
        QCOMPARE(lines.mid(at, 4), QList<QByteArray>({"ABSOLUTE", Today("dd/MM/yyyy").toLatin1(), "6", "----------"}));
        for (int i = 0; i < 1024; i += 4) {
            if (i == at)
                continue;
            QCOMPARE(lines[i + 1], QByteArray("00/00/0000"));
            QCOMPARE(lines[i + 2].toInt(), int(FindChartByName(lines[i].constData())->maxDp));
            QCOMPARE(lines[i + 3], QByteArray("----------"));
        }

        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")), QStringList({"ABSOLUTE", Today("dd/MM/yyyy"), "43", "AA", "6", "99.03"}));
        QCOMPARE(f().SelectedTitle(), QStringLiteral("ABSOLUTE"));
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("6"));  // prefilled again from the new score
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: AA:1   E:255   "));
        QVERIFY(f().errors.isEmpty());
    }

    void insertUnderAnotherSortKeyMovesTheChart()
    {
        f().Open();
        f().ClickHeader(4);  // DP lost, fewest first: unscored charts by their maxDp
        QCOMPARE(f().Titles().first(), QStringLiteral("5.1.1."));
        f().ClickRow("MAXX UNLIMITED");
        QCOMPARE(f().RowOf("MAXX UNLIMITED"), 255);
        f().Type("MemoGreat", "3");
        f().Type("MemoOK", "56");
        f().Click("ButtonInsert");
        QCOMPARE(f().RowOf("MAXX UNLIMITED"), 0);
        QCOMPARE(f().SelectedTitle(), QStringLiteral("MAXX UNLIMITED"));
        QCOMPARE(f().CurrentTitle(), QStringLiteral("MAXX UNLIMITED"));
        QCOMPARE(f().RowTexts(0).at(4), QStringLiteral("3"));
    }

    void equalResultIsStoredWithoutWarning()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Click("ButtonInsert");
        QVERIFY(!f().WarningShown());
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(1), Today("dd/MM/yyyy"));
        QVERIFY(ReadText("Scores.txt").contains("ABSOLUTE\n" + Today("dd/MM/yyyy").toLatin1() + "\n10\n"));
    }

    void worseResultWarnsThenCancelOrStore()
    {
        const QByteArray file = ScoreRecord("ABSOLUTE", "06/09/2005", 10);
        QVERIFY(WriteBytes("Scores.txt", file));
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGreat", "30");
        const QStringList row = f().RowTexts(f().RowOf("ABSOLUTE"));
        const QString totals = f().LabelText("LabelTotalRanks");

        f().Click("ButtonInsert");
        QVERIFY(f().WarningShown());
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonWarningOK"));
        f().Click("ButtonWarningNO");
        QVERIFY(!f().WarningShown());
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QCOMPARE(ReadText("Scores.txt"), file);
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")), row);
        QCOMPARE(f().LabelText("LabelTotalRanks"), totals);
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("30"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("30"));

        f().Click("ButtonInsert");
        QVERIFY(f().WarningShown());
        f().Click("ButtonWarningOK");  // stores without a second test
        QVERIFY(!f().WarningShown());
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("30"));
        QVERIFY(ReadText("Scores.txt").contains("ABSOLUTE\n" + Today("dd/MM/yyyy").toLatin1() + "\n30\n"));
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
    }

    void unscoredChartNeverWarns()
    {
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Type("MemoMiss", "99999");  // five characters at most: 9999 misses lose everything
        QCOMPARE(f().Field("MemoMiss")->text(), QStringLiteral("99999").left(5));
        f().Click("ButtonInsert");
        QVERIFY(!f().WarningShown());
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(1), Today("dd/MM/yyyy"));
    }

    void conversionErrorIsReportedOncePerRecalculation()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("10"));
        f().Type("MemoBoo", "abc");
        QCOMPARE(f().errors, QStringList({"'a' is not a valid integer value.", "'ab' is not a valid integer value.",
                                          "'abc' is not a valid integer value."}));
        QCOMPARE(f().LabelText("LabelDPFreeze"), QStringLiteral("622 / 0"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("10"));  // the last good result stays
        QCOMPARE(f().LabelText("LabelRankResult"), QStringLiteral("AA"));

        // selecting another chart meets the text three times: Great changes, OK changes, the final call
        f().errors.clear();
        f().ClickRow("1998");
        QCOMPARE(f().errors.size(), 3);
        QCOMPARE(f().LabelText("LabelDPFreeze"), QStringLiteral("658 / 6"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("10"));  // still the previous chart's
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("658"));
        QCOMPARE(f().Field("MemoOK")->text(), QStringLiteral("6"));

        // pending is maxDp after the error: back on ABSOLUTE an insert warns, then stores 622
        f().ClickRow("ABSOLUTE");
        f().errors.clear();
        f().Click("ButtonInsert");
        QVERIFY(f().WarningShown());
        f().Click("ButtonWarningOK");
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("N/A"));
        QVERIFY(ReadText("Scores.txt").contains("ABSOLUTE\n" + Today("dd/MM/yyyy").toLatin1() + "\n622\n"));
    }

    void pastedNulIsShownWholeInTheMessage()
    {
        f().Open();
        f().ClickRow("ABSOLUTE");
        QGuiApplication::clipboard()->setText(QString::fromLatin1("1\0" "2", 3));
        QLineEdit *good = f().Field("MemoGood");
        good->setFocus();
        QTest::keyClick(good, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(good->text().size(), 3);
        QCOMPARE(f().errors, QStringList({QString::fromLatin1("'1\0" "2' is not a valid integer value.", 35)}));
    }

    void okTextIgnoredOnAChartWithoutFreezes()
    {
        f().Open();
        f().ClickRow(".59");
        f().Type("MemoGreat", "7");
        f().Type("MemoOK", "zz");
        QVERIFY(f().errors.isEmpty());
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("7"));
        // on a chart with freezes the text counts: the Great prefill meets it once, then OK is
        // set to the freeze count and the final calculation goes through
        f().ClickRow("1998");
        QCOMPARE(f().errors, QStringList({"'zz' is not a valid integer value."}));
        QCOMPARE(f().Field("MemoOK")->text(), QStringLiteral("6"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("658"));
    }

    void goodCountCarriesOverToTheNextChart()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("1998", "06/09/2005", 20)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGood", "3");
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("622"));  // capped at maxDp
        f().ClickRow("1998");
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("20"));
        QCOMPARE(f().Field("MemoOK")->text(), QStringLiteral("6"));
        QCOMPARE(f().Field("MemoGood")->text(), QStringLiteral("3"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("26"));
    }

    void enterKeyChain()
    {
        f().Open();
        f().List()->setFocus();
        const QStringList chain = {"MemoGreat", "MemoGood", "MemoBoo", "MemoMiss", "MemoOK", "ButtonInsert"};
        for (const QString &next : chain) {
            QTest::keyClick(f().FocusWidget(), Qt::Key_Return);
            QCOMPARE(f().FocusName(), next);
        }
        QVERIFY(!QFile::exists("Scores.txt"));  // Enter in OK only moved the focus
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("550"));

        QTest::keyClick(f().FocusWidget(), Qt::Key_Enter);  // the keypad's Enter presses the button
        QVERIFY(QFile::exists("Scores.txt"));
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
    }

    void buttonsArePressedBySpaceAndEnter()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        f().Type("MemoGreat", "11");
        f().Button("ButtonInsert")->setFocus();
        QTest::keyClick(f().FocusWidget(), Qt::Key_Space);
        QVERIFY(f().WarningShown());
        QTest::keyClick(f().FocusWidget(), Qt::Key_Tab);
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonWarningNO"));
        QTest::keyClick(f().FocusWidget(), Qt::Key_Return);  // Cancel
        QVERIFY(!f().WarningShown());
        QCOMPARE(ReadText("Scores.txt"), ScoreRecord("ABSOLUTE", "06/09/2005", 10));

        f().Button("ButtonInsert")->setFocus();
        QTest::keyClick(f().FocusWidget(), Qt::Key_Return);
        QVERIFY(f().WarningShown());
        QTest::keyClick(f().FocusWidget(), Qt::Key_Return);  // OK
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("11"));
    }
};

QTEST_MAIN(TestWindowEntry)
#include "tst_window_entry.moc"
