// Times what the player waits on, through the real window and its widgets: a keystroke in an
// entry field, a header click, an Insert, and the start of the program against the start of a
// window that paints the same texts itself and of a window that shows one label. Prints its
// Markdown tables and exits with 1 when an operation misses its budget; bench.h maps its parts.
//
// Run by scripts/bench from an empty directory on the disk the player's score file would be
// on, since Insert saves "Scores.txt" there and waits for it to be synced.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <QApplication>

#include "Bk_control_main.h"
#include "bench.h"
#include "chart_ordering.h"
#include "chart_table.h"
#include "journal_bench.h"
#include "score_file.h"
#include "session.h"

namespace bench {

namespace {

constexpr int SortRuns = 200;

// ---- the scoring core alone

// Scores, dates and comparison values spread over every chart, so that every key orders by
// its own values rather than by the title tie-break alone.
void ScoreEveryChart()
{
    std::mt19937 random(20050906);
    for (ChartRecord &chart : ChartTable) {
        std::uniform_int_distribution<int> dp(0, chart.maxDp);
        if (random() % 4 != 0) {
            chart.dpLost = uint16_t(dp(random));
            chart.day = uint8_t(1 + random() % 28);
            chart.month = uint8_t(1 + random() % 12);
            chart.year = uint16_t(2004 + random() % 3);
        }
        chart.enemyDpLost = uint16_t(dp(random));
    }
    FindChartByName(InsertChart)->dpLost = FindChartByName(InsertChart)->maxDp;  // room for every insert run
    FindChartByName(InsertChart)->day = 0;
    FindChartByName(InsertChart)->month = 0;
    FindChartByName(InsertChart)->year = 0;
}

void BenchSorts()
{
    static const char *KeyNames[] = {"name", "date", "AA allowance", "rank", "DP lost", "percentage", "difference"};
    for (uint8_t key = SortByName; key <= SortByDifference; ++key) {
        ChartOrder sorted{};
        InitChartTable(&sorted);
        ScoreEveryChart();
        SortCharts(&sorted, key, true);
        ChartOrder reversed = sorted;
        std::reverse(reversed.begin(), reversed.end());
        ChartOrder work{};
        Samples samples = Time(SortRuns, [&](int) {
            work = reversed;
            const Clock::time_point start = Clock::now();
            int passes = SortCharts(&work, key, true);
            double milliseconds = MillisecondsSince(start);
            if (work != sorted || passes != ChartCount - 1)
                Fail("the sort from the reversed order did not take every pass to the same order");
            return milliseconds;
        });
        AddRow(std::string("SortCharts by ") + KeyNames[key] + " from the reverse of its order (255 passes)", samples,
               "ms", "median < 2 ms", samples.Median() < 2.0);
    }
}

// The score file the windows start from, most charts scored, as a player's would be.
void WriteScoreFile(const ChartRecord (&pristine)[ChartCount])
{
    std::memcpy(ChartTable, pristine, sizeof pristine);
    ChartOrder order{};
    InitChartTable(&order);
    ScoreEveryChart();
    if (!SaveScoreFile())
        Fail("cannot write Scores.txt in the current directory");
    std::memcpy(ChartTable, pristine, sizeof pristine);
}

}  // namespace

}  // namespace bench

// With --write-scores it only writes the score file it starts the windows from, for screenshots.
int main(int argc, char *argv[])
{
    using namespace bench;
    ChartRecord pristine[ChartCount];
    std::memcpy(pristine, ChartTable, sizeof pristine);
    if (argc == 2 && std::strcmp(argv[1], "--write-scores") == 0) {
        WriteScoreFile(pristine);
        return 0;
    }
    BenchSorts();
    WriteScoreFile(pristine);
    LetFilesRest();
    BenchStart();
    if (std::getenv("BRISKO_BENCH_COLD") != nullptr)
        BenchColdStart();
    BenchScoreFileSizes();
    BenchPlays();
    bool journalWithin = true;
    {
        QApplication application(argc, argv);
        TSession session;
        TBK_ControlMain::SetErrorPresenter([](const QString &message) { Fail(message.toStdString()); });
        BenchWindow();
        journalWithin = BenchJournal();
    }
    return PrintTable() && journalWithin ? 0 : 1;
}
