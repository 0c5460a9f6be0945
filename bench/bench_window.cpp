// The window in this process, driven through its widgets with the toolkit's test events: a
// keystroke in an entry field, a header click, an Insert with its synced save, and the merge of
// a score file another program changed long ago.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "Bk_control_main.h"
#include "bench.h"
#include "chart_ordering.h"
#include "chart_table.h"
#include "score_file.h"

namespace bench {

namespace {

constexpr int KeystrokeRuns = 2000;
constexpr int FillRuns = 300;
constexpr int InsertRuns = 300;

int SettlePauses = 0;

void CountSettlePause()
{
    ++SettlePauses;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

template <typename Widget> Widget *Control(QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (widget == nullptr)
        Fail(std::string("no control named ") + name);
    return widget;
}

void ClickRow(QTreeView *list, const char *title)
{
    QAbstractItemModel *model = list->model();
    const QModelIndexList rows = model->match(model->index(0, 0), Qt::DisplayRole, QString::fromLatin1(title), 2,
                                              Qt::MatchExactly);
    if (rows.size() != 1)
        Fail(std::string("no row for ") + title);
    list->scrollTo(rows.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(rows.first()).center());
}

void ClickHeader(QTreeView *list, int column)
{
    QHeaderView *header = list->header();
    QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

void TypeInto(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

}  // namespace

void BenchWindow()
{
    TBK_ControlMain window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        Fail("the window was never shown");
    QTreeView *list = Control<QTreeView>(window, "ListViewScores");
    QLineEdit *great = Control<QLineEdit>(window, "MemoGreat");
    QLineEdit *good = Control<QLineEdit>(window, "MemoGood");
    QLabel *dpLost = Control<QLabel>(window, "LabelDPMissResult");

    // A keystroke in Good: '1' and Backspace by turns, 10 and 12 DP lost on ABSOLUTE.
    ClickRow(list, "ABSOLUTE");
    TypeInto(great, QStringLiteral("10"));
    good->setFocus();
    good->clear();
    QCoreApplication::processEvents();
    Samples keystroke = Time(KeystrokeRuns, [&](int run) {
        const bool typeDigit = (run & 1) == 0;
        const Clock::time_point start = Clock::now();
        QTest::keyClick(good, typeDigit ? Qt::Key_1 : Qt::Key_Backspace);
        double milliseconds = MillisecondsSince(start);
        if (dpLost->text() != (typeDigit ? QStringLiteral("12") : QStringLiteral("10")))
            Fail("the keystroke did not recalculate");
        QCoreApplication::processEvents();  // the labels repaint between keystrokes, as when typing
        return milliseconds;
    });
    AddRow("Recalculation after one keystroke in an entry field", keystroke, "ms", "median < 0.2 ms",
           keystroke.Median() < 0.2);
    good->clear();

    // "Rank" and "%" by turns: two keys of the same order, so each click sorts in a single pass
    // of 255 comparisons and the rest is FillScoreList.
    const int columns[] = {3, 5};
    Samples fill = Time(FillRuns, [&](int run) {
        const Clock::time_point start = Clock::now();
        ClickHeader(list, columns[run & 1]);
        double milliseconds = MillisecondsSince(start);
        if (list->model()->rowCount() != ChartCount)
            Fail("the header click did not refill the list");
        QCoreApplication::processEvents();
        return milliseconds;
    });
    ChartOrder byPercent{};
    for (int i = 0; i < ChartCount; ++i)
        byPercent[i] = &ChartTable[i];
    SortCharts(&byPercent, SortByPercent, true);
    Samples onePass = Time(FillRuns, [&](int) {
        const Clock::time_point start = Clock::now();
        SortCharts(&byPercent, SortByRank, true);
        return MillisecondsSince(start);
    });
    char operation[160];
    std::snprintf(operation, sizeof operation,
                  "FillScoreList, 256 rows (a header click on Rank or %%; its one sort pass takes %.3f ms)",
                  onePass.Median());
    AddRow(operation, fill, "ms", "median < 4 ms", fill.Median() < 4.0);

    // Insert under the DP order, each run a DP lost one lower, so the chart moves up the list
    // and no warning is due.
    ClickHeader(list, 4);
    ClickRow(list, InsertChart);
    QPushButton *insert = Control<QPushButton>(window, "ButtonInsert");
    // the warning panel is made only when a warning is due
    const auto warned = [&window] {
        const auto *warning = window.findChild<QWidget *>(QStringLiteral("PanelWarning"));
        return warning != nullptr && warning->isVisible();
    };
    int nextDpLost = 1400;
    Samples inserts = Time(InsertRuns, [&](int) {
        const QString value = QString::number(nextDpLost--);
        TypeInto(great, value);
        QCoreApplication::processEvents();
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(insert, Qt::LeftButton);
        double milliseconds = MillisecondsSince(start);
        if (warned() || great->text() != value || list->currentIndex().siblingAtColumn(0).data().toString() != QLatin1String(InsertChart))
            Fail("the insert did not store the score and reselect the chart");
        QCoreApplication::processEvents();
        return milliseconds;
    });
    AddRow("Insert: commit, sort, refill, totals, synced atomic save, reselect", inserts, "ms", "median < 16 ms",
           inserts.Median() < 16.0);

    // Another program's Scores.txt, changed long ago: every merge reads it once, and its time
    // alone tells that it is at rest, so the wait for a file being written costs it nothing.
    FILE *other = std::fopen("Scores.txt", "ab");
    if (other == nullptr || std::fputs("\n", other) == EOF || std::fclose(other) != 0)
        Fail("cannot change the score file");
    LetFilesRest();
    SetPauseBeforeReadingAgain(CountSettlePause);
    bool unsaved[ChartCount] = {};
    Samples merges = Time(InsertRuns, [&](int) {
        ForgetScoreFile();  // no text this process saw: only the file's time can tell
        ScoreFileStatus status;
        const Clock::time_point start = Clock::now();
        MergeOwnScoreFile(unsaved, status);
        return MillisecondsSince(start);
    });
    SetPauseBeforeReadingAgain(nullptr);
    AddRow("Merge of a Scores.txt another program changed long ago: one read, no pause", merges, "ms",
           "no pause, median < 1 ms", SettlePauses == 0 && merges.Median() < 1.0);
}

}  // namespace bench
