#include "dp_scoring.h"

#include "chart_table.h"

namespace {

constexpr int64_t GreatWeight = 1;
constexpr int64_t GoodWeight = 2;
constexpr int64_t BooWeight = 6;
constexpr int64_t MissWeight = 10;
constexpr int64_t FreezeWeight = 6;

constexpr const char *RankNames[RankCount] = {"AAA", "AA", "A", "B", "C", "D", "E"};

}  // namespace

uint16_t ComputeDpLost(uint16_t maxDp, uint8_t freezes, int32_t great, int32_t good, int32_t boo,
                       int32_t miss, int32_t ok)
{
    // 64 bits hold every weighted sum of 32-bit counts, so nothing wraps: a sum outside
    // 0..maxDp is a play that cannot have happened and loses everything.
    int64_t sum = GreatWeight * great + GoodWeight * good + BooWeight * boo + MissWeight * miss;
    if (freezes != 0) {
        int64_t okFreezes = ok < 0 ? 0 : (ok > freezes ? freezes : ok);
        sum += FreezeWeight * (freezes - okFreezes);
    }
    if (sum < 0 || sum > maxDp)
        return maxDp;
    return static_cast<uint16_t>(sum);
}

uint16_t PercentHundredths(uint16_t maxDp, uint16_t lost)
{
    if (maxDp == 0 || lost > maxDp)
        return 0;
    uint32_t kept = static_cast<uint32_t>(maxDp - lost) * PerfectPercent / maxDp;
    return static_cast<uint16_t>(kept);
}

int RankIndex(uint16_t percent)
{
    if (percent == PerfectPercent)
        return 0;
    if (percent >= 9300)
        return 1;
    if (percent >= 8000)
        return 2;
    if (percent >= 6500)
        return 3;
    if (percent >= 4500)
        return 4;
    if (percent > 0)
        return 5;
    return 6;
}

const char *RankName(uint16_t percent)
{
    return RankNames[RankIndex(percent)];
}

const char *RankNameAt(int rankIndex)
{
    return RankNames[rankIndex];
}

uint8_t AaAllowance(uint16_t maxDp)
{
    return static_cast<uint8_t>(maxDp * 7 / 100);  // wraps above 3657; the built-in maximum is 1446
}

uint16_t ChartPercent(const ChartRecord &chart)
{
    return PercentHundredths(chart.maxDp, chart.dpLost);
}

uint16_t CappedLoss(uint16_t maxDp, uint16_t lost)
{
    return lost > maxDp ? maxDp : lost;
}

int32_t ChartDifference(const ChartRecord &chart)
{
    return static_cast<int32_t>(CappedLoss(chart.maxDp, chart.dpLost)) -
           static_cast<int32_t>(CappedLoss(chart.maxDp, chart.enemyDpLost));
}
