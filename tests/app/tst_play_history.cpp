#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QTimeZone>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>
#include <QtGui/private/qguiapplication_p.h>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "chart_fixture.h"
#include "dp_scoring.h"
#include "history_plot.h"
#include "play_history.h"

namespace {

constexpr uint16_t MaxDp = 1000;  // a loss of 75 is 92.50 percent
constexpr int64_t Day = 24 * 3600;
const int64_t November1 = QDateTime(QDate(2026, 11, 1), QTime(20, 15), QTimeZone::utc()).toSecsSinceEpoch();

ChartRecord TestChart(uint32_t index = 7)
{
    ChartRecord chart{};
    chart.index = index;
    std::snprintf(chart.name, sizeof chart.name, "Test song %u", index);
    chart.maxDp = MaxDp;
    chart.dpLost = MaxDp;
    return chart;
}

PlayLine Line(int64_t utc, uint16_t dpLost, PlayKind kind = PlayKind::Play, uint16_t chart = 7)
{
    PlayLine line;
    line.kind = kind;
    line.utcSeconds = utc;
    const QByteArray time = QDateTime::fromSecsSinceEpoch(utc, QTimeZone::utc()).toString(Qt::ISODate).toLatin1();
    std::snprintf(line.time, sizeof line.time, "%.19s+00:00", time.constData());
    line.chart = chart;
    line.hasCounts = kind == PlayKind::Play;
    if (line.hasCounts)
        line.counts[0] = dpLost;
    line.dpLost = dpLost;
    line.percent = PercentHundredths(MaxDp, dpLost);
    return line;
}

// One play a day from 2026-11-01, at these percentages in hundredths.
PlayJournal DailyPlays(const QList<int> &percents, uint32_t skipped = 0, uint16_t chart = 7)
{
    PlayJournal journal;
    for (int64_t day = 0; day < percents.size(); ++day) {
        journal.lines.push_back(Line(November1 + day * Day, uint16_t((10000 - percents[day]) / 10), PlayKind::Play, chart));
        journal.lines.back().percent = uint16_t(percents[day]);  // to the hundredth, as no loss of 1000 gives
    }
    journal.skippedLines = skipped;
    return journal;
}

}  // namespace

class TestPlayHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window_;
    PlayHistoryDialog *dialog_ = nullptr;

    template <typename Widget> Widget *Find(const char *name) const
    {
        return dialog_->findChild<Widget *>(QString::fromLatin1(name));
    }
    QTableView *Table() const { return Find<QTableView>("TableHistory"); }
    HistoryPlot *Plot() const { return Find<HistoryPlot>("PlotHistory"); }
    QString Cell(int row, int column) const { return Table()->model()->index(row, column).data().toString(); }
    QString Column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < Table()->model()->rowCount(); ++row)
            texts << Cell(row, column);
        return texts.join(u',');
    }

private slots:
    void initTestCase()
    {
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QVERIFY(QAccessible::isActive());
    }

    void init()
    {
        window_ = std::make_unique<QWidget>();
        window_->resize(400, 300);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        dialog_ = new PlayHistoryDialog(window_.get());
    }

    void cleanup() { window_.reset(); }

    // lines: "utc-offset-in-hours:dpLost[:undo][:other]" in the file's order
    void rows_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("storedDpLost");
        QTest::addColumn<int>("storedDay");
        QTest::addColumn<QString>("dpLostColumn");
        QTest::addColumn<QString>("storedColumn");
        QTest::newRow("newest first, of one time the later line first")
            << QStringList{"1:10", "3:20", "2:30", "3:40"} << 0 << 0 << "40,20,30,10" << ",,,";
        QTest::newRow("stored: the newest play of that loss and day")
            << QStringList{"1:50", "2:50", "3:60"} << 50 << 1 << "60,50,50" << ",stored score,";
        QTest::newRow("stored: that loss on another day is none")
            << QStringList{"1:50", "2:50"} << 50 << 2 << "50,50" << ",";
        QTest::newRow("stored: an undo line is never it, and says so")
            << QStringList{"1:50", "2:70", "3:50:undo"} << 50 << 1 << "50,70,50" << "Insert undone,,stored score";
        QTest::newRow("another chart's lines are left out")
            << QStringList{"1:50:other", "2:30", "3:50:other"} << 30 << 1 << "30" << "stored score";
    }

    void rows()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, storedDpLost);
        QFETCH(int, storedDay);
        PlayJournal journal;
        for (const QString &spec : lines) {
            const QStringList part = spec.split(u':');
            journal.lines.push_back(Line(November1 + part[0].toInt() * 3600, uint16_t(part[1].toInt()),
                                         part.contains("undo") ? PlayKind::Undo : PlayKind::Play,
                                         part.contains("other") ? 8 : 7));
        }
        ChartRecord chart = TestChart();
        Score(chart, uint16_t(storedDpLost), uint8_t(storedDay), 11, 2026);
        dialog_->ShowChart(chart, journal);
        QTEST(Column(6), "dpLostColumn");
        QTEST(Column(9), "storedColumn");
        for (int row = 0; row < Table()->model()->rowCount(); ++row)
            QCOMPARE(Cell(row, 1).isEmpty(), Cell(row, 9) == "Insert undone");
    }

    // A screen reader reads the table through its interface: each cell says its column.
    void spokenTable()
    {
        PlayJournal journal = DailyPlays({9250, 9000});
        journal.lines.push_back(Line(November1 + 2 * Day, 75, PlayKind::Undo));
        ChartRecord chart = TestChart();
        Score(chart, 75, 1, 11, 2026);
        dialog_->ShowChart(chart, journal);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(Table());
        QCOMPARE(accessible->role(), QAccessible::Table);
        QAccessibleTableInterface *table = accessible->tableInterface();
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->columnCount(), 10);
        const auto rowText = [table](int row) {
            QStringList texts;
            for (int column = 0; column < table->columnCount(); ++column)
                texts << table->cellAt(row, column)->text(QAccessible::Name);
            texts.removeAll(QString());
            return texts.join(QStringLiteral(", "));
        };
        QCOMPARE(rowText(0), "undone 2026-11-03 20:15, restored DP lost 75, 92.50 percent, rank A, Insert undone");
        QCOMPARE(rowText(2), "played 2026-11-01 20:15, Great 75, Good 0, Boo 0, Miss 0, OK 0, DP lost 75, "
                             "92.50 percent, rank A, stored score");
        // Asked through the table: a cell's columnHeaderCells() makes header cells that no one frees.
        QCOMPARE(table->columnDescription(6), "DP lost");
    }

    void described_data()
    {
        QTest::addColumn<QList<int>>("percents");
        QTest::addColumn<uint>("skipped");
        QTest::addColumn<QString>("plays");
        QTest::addColumn<QString>("skippedText");
        QTest::addColumn<QString>("description");
        QTest::newRow("none") << QList<int>{} << 0u << "No play of this chart is in Plays.csv yet." << ""
                              << "No plays yet.";
        QTest::newRow("one, lines skipped") << QList<int>{9510} << 2u << "1 play"
                                            << "2 lines of Plays.csv could not be read and were skipped."
                                            << "1 play on 2026-11-01: 95.10 percent.";
        QTest::newRow("one line skipped") << QList<int>{9510, 9600} << 1u << "2 plays"
                                          << "1 line of Plays.csv could not be read and was skipped."
                                          << "2 plays from 2026-11-01 to 2026-11-02. First 95.10 percent, best "
                                             "96.00 percent on 2026-11-02, last 96.00 percent on 2026-11-02.";
        QTest::newRow("rising, the best before the last")
            << QList<int>{8120, 8500, 9640, 9510} << 0u << "4 plays" << ""
            << "4 plays from 2026-11-01 to 2026-11-04. First 81.20 percent, best 96.40 percent on 2026-11-03, "
               "last 95.10 percent on 2026-11-04. Rising.";
        QTest::newRow("a rise of one point is flat; a tie for best is the first")
            << QList<int>{9000, 9500, 9500, 9100} << 0u << "4 plays" << ""
            << "4 plays from 2026-11-01 to 2026-11-04. First 90.00 percent, best 95.00 percent on 2026-11-02, "
               "last 91.00 percent on 2026-11-04. Flat.";
        QTest::newRow("falling by a hair past the band: means of thirds, not truncated")
            << QList<int>{9000, 9200, 9000, 9600, 8800, 9199} << 0u << "6 plays" << ""
            << "6 plays from 2026-11-01 to 2026-11-06. First 90.00 percent, best 96.00 percent on 2026-11-04, "
               "last 91.99 percent on 2026-11-06. Falling.";
    }

    void described()
    {
        QFETCH(QList<int>, percents);
        QFETCH(uint, skipped);
        QFETCH(QString, skippedText);
        dialog_->ShowChart(TestChart(), DailyPlays(percents, skipped));
        QTEST(Find<QLabel>("LabelHistoryPlays")->text(), "plays");
        QCOMPARE(Find<QLabel>("LabelHistorySkipped")->text(), skippedText);
        QCOMPARE(Find<QLabel>("LabelHistorySkipped")->isVisible(), !skippedText.isEmpty());
        QAccessibleInterface *plot = QAccessible::queryAccessibleInterface(Plot());
        QCOMPARE(plot->role(), QAccessible::Chart);
        QCOMPARE(plot->text(QAccessible::Name), "Percentage over time");
        QTEST(plot->text(QAccessible::Description), "description");
    }

    // One dialog for every chart, over the window, closed by Escape or by its button.
    void reusedAndClosed()
    {
        dialog_->ShowChart(TestChart(7), DailyPlays({9000, 9100}));
        dialog_->activateWindow();  // as a window manager does with a new dialog
        // qWaitForWindowActive can be true here before the dialog is
        QVERIFY(QTest::qWaitFor([this] { return dialog_->isActiveWindow(); }));
        QCOMPARE(QApplication::focusWidget(), Table());
        QCOMPARE(Table()->currentIndex().row(), 0);
        const int children = dialog_->findChildren<QObject *>().size();
        QTest::keyClick(Table(), Qt::Key_Escape);
        QVERIFY(!dialog_->isVisible());

        dialog_->ShowChart(TestChart(9), DailyPlays({8000}, 0, 9));
        QVERIFY(dialog_->isVisible());
        QCOMPARE(dialog_->windowTitle(), "History of Test song 9");
        QCOMPARE(dialog_->findChildren<QObject *>().size(), children);
        QCOMPARE(Table()->model()->rowCount(), 1);
        QTest::mouseClick(Find<QPushButton>("ButtonHistoryClose"), Qt::LeftButton);
        QVERIFY(!dialog_->isVisible());
        QVERIFY(window_->isVisible());
    }

    void plotPixels_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("plays");
        QTest::newRow("fusion, a few plays") << "fusion" << 5;
        QTest::newRow("windows, more plays than pixel columns") << "windows" << 3000;
    }

    // The AA line crosses the plot in its colour where no play comes near it, the best play's
    // marker lies on its row at its time and nowhere else, and the lowest play is drawn too.
    void plotPixels()
    {
        QFETCH(QString, style);
        QFETCH(int, plays);
        QApplication::setStyle(QStyleFactory::create(style));
        QList<int> percents;
        for (int play = 0; play < plays; ++play)
            percents << 8500 + (play * 37) % 600;  // 85.00 to 90.99
        const int best = plays / 3, lowest = 2 * plays / 3;
        percents[best] = 9200;
        percents[lowest] = 8100;
        dialog_->ShowChart(TestChart(), DailyPlays(percents));
        QVERIFY(QTest::qWaitForWindowExposed(dialog_));
        HistoryPlot *plot = Plot();
        const QImage image = plot->grab().toImage();
        const QRect area = plot->PlotArea();
        QVERIFY(area.width() > 200);

        const int aa = plot->RowOf(9300);
        for (int x = area.left(); x <= area.right(); ++x)
            QCOMPARE(image.pixelColor(x, aa), HistoryPlot::ThresholdColour);

        const int bestColumn = plot->ColumnOf(November1 + best * Day);
        int marked = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, plot->RowOf(9200)) == HistoryPlot::BestColour) {
                QVERIFY2(qAbs(x - bestColumn) <= 4, qPrintable(QString::number(x)));
                ++marked;
            }
        }
        QCOMPARE(marked, 9);

        const QColor low = image.pixelColor(plot->ColumnOf(November1 + lowest * Day), plot->RowOf(8100));
        QVERIFY2(low.green() > low.red() + 60, qPrintable(low.name()));
    }
};

QTEST_MAIN(TestPlayHistory)
#include "tst_play_history.moc"
