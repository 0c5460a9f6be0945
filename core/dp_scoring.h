#pragma once

#include <cstdint>

struct ChartRecord;

constexpr uint16_t PerfectPercent = 10000;
constexpr int RankCount = 7;

// DP lost by a play, never above maxDp; the OK count is ignored on a chart without freezes.
uint16_t ComputeDpLost(uint16_t maxDp, uint8_t freezes, int32_t great, int32_t good, int32_t boo,
                       int32_t miss, int32_t ok);

// Percentage kept, in hundredths of a percent (0..10000). A loss above maxDp, which only a
// score file can bring, keeps nothing.
uint16_t PercentHundredths(uint16_t maxDp, uint16_t lost);

// 0 "AAA", 1 "AA", 2 "A", 3 "B", 4 "C", 5 "D", 6 "E".
int RankIndex(uint16_t percent);
const char *RankName(uint16_t percent);
const char *RankNameAt(int rankIndex);

// How many DP may be lost with the rank still AA: maxDp x 7 / 100, kept in 8 bits.
uint8_t AaAllowance(uint16_t maxDp);

uint16_t ChartPercent(const ChartRecord &chart);

// A stored loss above maxDp can only come from a score file; it counts as everything lost.
uint16_t CappedLoss(uint16_t maxDp, uint16_t lost);

// Own DP lost minus the comparison's, each capped at maxDp, so never outside -maxDp..maxDp.
int32_t ChartDifference(const ChartRecord &chart);
