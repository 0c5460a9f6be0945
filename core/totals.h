#pragma once

#include <cstdint>

#include "chart_table.h"
#include "dp_scoring.h"

struct TotalsTally {
    uint16_t rankCounts[RankCount];  // indexed as RankIndex
    uint32_t sumMaxDp;
    uint32_t sumDpLost;
    uint16_t wonCount;
    uint16_t lostCount;
    uint16_t drawnCount;
    int32_t marginWon;
    int32_t marginLost;
};

constexpr int TotalsCaptionSize = 128;

struct TotalsCaptions {
    char ranks[TotalsCaptionSize];  // the upper caption of the totals panel
    char dp[TotalsCaptionSize];     // the lower caption
};

// One pass over the 256 records in storage order.
TotalsTally TallyCharts(const ChartRecord (&table)[ChartCount]);

// The two captions for normal mode (rank distribution and DP totals) or comparison mode
// (won, lost and drawn).
TotalsCaptions TotalsCaptionTexts(const TotalsTally &tally, bool compareMode);
