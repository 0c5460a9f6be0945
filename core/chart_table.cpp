#include "chart_table.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dp_scoring.h"

#define CHART(title, steps, freezes) ChartRecord{0, title, steps, freezes, 0, 0, 0, 0, 0, 0, 0},

ChartRecord ChartTable[ChartCount] = {
#include "chart_data.inc"
};

#undef CHART

// A data file with fewer rows would leave zeroed records behind, so count the rows themselves.
#define CHART(title, steps, freezes) +1
constexpr int BuiltInRowCount = 0
#include "chart_data.inc"
    ;
#undef CHART
static_assert(BuiltInRowCount == ChartCount, "the chart data must hold exactly 256 rows");

void InitChartTable(ChartOrder *order)
{
    if (order == nullptr)
        return;
    for (int i = 0; i < ChartCount; ++i) {
        ChartRecord &chart = ChartTable[i];
        (*order)[i] = &chart;
        chart.index = static_cast<uint32_t>(i);
        chart.maxDp = static_cast<uint16_t>(chart.steps * 2 + chart.freezes * 6);
        chart.dpLost = chart.maxDp;
        chart.aaAllowance = AaAllowance(chart.maxDp);
    }
}

void ClearOwnScore(ChartRecord &chart)
{
    chart.dpLost = chart.maxDp;
    chart.day = 0;
    chart.month = 0;
    chart.year = 0;
}

// A score file names a chart on every record, and one of titles no chart has names none: a
// search through the whole table for each would cost the file's size times the table's. The
// table's own order is not quite the titles' byte order, so they are searched in a copy of it.
ChartRecord *FindChartByName(const char *text)
{
    if (text == nullptr)
        return nullptr;
    static const std::array<ChartRecord *, ChartCount> byTitle = [] {
        std::array<ChartRecord *, ChartCount> titles{};
        for (int i = 0; i < ChartCount; ++i)
            titles[i] = &ChartTable[i];
        std::sort(titles.begin(), titles.end(),
                  [](const ChartRecord *a, const ChartRecord *b) { return std::strcmp(a->name, b->name) < 0; });
        return titles;
    }();
    const auto found = std::lower_bound(byTitle.begin(), byTitle.end(), text, [](const ChartRecord *chart, const char *title) {
        return std::strcmp(chart->name, title) < 0;
    });
    return found != byTitle.end() && std::strcmp((*found)->name, text) == 0 ? *found : nullptr;
}
