#include "chart_table.h"

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

ChartRecord *FindChartByName(const char *text)
{
    if (text == nullptr)
        return nullptr;
    for (ChartRecord &chart : ChartTable)
        if (std::strcmp(chart.name, text) == 0)
            return &chart;
    return nullptr;
}
