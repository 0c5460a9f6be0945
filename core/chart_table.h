#pragma once

#include <array>
#include <cstdint>

constexpr int ChartCount = 256;
constexpr int ChartNameSize = 128;

struct ChartRecord {
    uint32_t index;
    char name[ChartNameSize];
    uint16_t steps;
    uint8_t freezes;
    uint16_t maxDp;
    uint16_t dpLost;       // equal to maxDp while the chart has no score
    uint16_t enemyDpLost;  // from the last comparison file that named the chart
    uint8_t aaAllowance;
    uint8_t day;
    uint8_t month;
    uint16_t year;
};

// Storage order is title order; it is also the order of the score file and of the totals.
extern ChartRecord ChartTable[ChartCount];

// Display order: references into ChartTable. Only this array is ever reordered.
using ChartOrder = std::array<ChartRecord *, ChartCount>;

void InitChartTable(ChartOrder *order);

// Back to no own score: the whole maxDp lost and no date.
void ClearOwnScore(ChartRecord &chart);

ChartRecord *FindChartByName(const char *text);
