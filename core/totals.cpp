#include "totals.h"

#include <cstdio>

namespace {

void TallyComparison(TotalsTally &tally, int32_t difference)
{
    if (difference > 0) {
        ++tally.lostCount;
        tally.marginLost += difference;
    } else if (difference < 0) {
        ++tally.wonCount;
        tally.marginWon -= difference;
    } else {
        ++tally.drawnCount;
    }
}

// Computed from the two sums, not from the per-chart percentages; 64 bits keep the
// product exact for any table.
uint16_t TotalPercent(const TotalsTally &tally)
{
    uint64_t kept = static_cast<uint64_t>(tally.sumMaxDp - tally.sumDpLost) * PerfectPercent;
    return static_cast<uint16_t>(kept / tally.sumMaxDp);
}

void WriteRankCaption(char (&text)[TotalsCaptionSize], const TotalsTally &tally)
{
    int length = std::snprintf(text, sizeof text, "Rank: ");
    for (int rank = 0; rank < RankCount; ++rank) {
        if (tally.rankCounts[rank] == 0)
            continue;
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%s:%d   ",
                                RankNameAt(rank), static_cast<int32_t>(tally.rankCounts[rank]));
    }
}

void WriteDpCaption(char (&text)[TotalsCaptionSize], const TotalsTally &tally)
{
    uint16_t totalPercent = tally.sumMaxDp == 0 ? 0 : TotalPercent(tally);
    std::snprintf(text, sizeof text, "Total DPs: %d / %d      ( %d.%02d%% - Miss: %d )",
                  static_cast<int32_t>(tally.sumMaxDp - tally.sumDpLost),
                  static_cast<int32_t>(tally.sumMaxDp), totalPercent / 100, totalPercent % 100,
                  static_cast<int32_t>(tally.sumDpLost));
}

void WriteComparisonCaptions(TotalsCaptions &captions, const TotalsTally &tally)
{
    std::snprintf(captions.ranks, sizeof captions.ranks, "Won: %d   Lost: %d   Drawn: %d",
                  static_cast<int32_t>(tally.wonCount), static_cast<int32_t>(tally.lostCount),
                  static_cast<int32_t>(tally.drawnCount));
    int32_t difference = tally.marginWon - tally.marginLost;
    std::snprintf(captions.dp, sizeof captions.dp,
                  "( Total DP Won: %d   Total DP Lost: %d   Difference: %s%d )", tally.marginWon,
                  tally.marginLost, tally.marginWon > tally.marginLost ? "+" : "", difference);
}

}  // namespace

TotalsTally TallyCharts(const ChartRecord (&table)[ChartCount])
{
    TotalsTally tally{};
    for (const ChartRecord &chart : table) {
        tally.sumMaxDp += chart.maxDp;
        tally.sumDpLost += CappedLoss(chart.maxDp, chart.dpLost);
        ++tally.rankCounts[RankIndex(ChartPercent(chart))];
        TallyComparison(tally, ChartDifference(chart));
    }
    return tally;
}

TotalsCaptions TotalsCaptionTexts(const TotalsTally &tally, bool compareMode)
{
    TotalsCaptions captions{};
    if (compareMode) {
        WriteComparisonCaptions(captions, tally);
    } else {
        WriteRankCaption(captions.ranks, tally);
        WriteDpCaption(captions.dp, tally);
    }
    return captions;
}
