#pragma once

#include <cstdint>

#include "chart_table.h"

enum SortKey : uint8_t {
    SortByName = 0,
    SortByDate = 1,
    SortByAaAllowance = 2,
    SortByRank = 3,
    SortByDpLost = 4,
    SortByPercent = 5,
    SortByDifference = 6,
};

// Case-insensitive comparison of two titles, letters folded to lower case, other bytes
// compared as unsigned values; negative, zero or positive as strcmp.
int CompareNamesNoCase(const char *a, const char *b);

// Whether x must stand before y. With ascending clear the answer is the negation of the
// key's own order; a key outside 0..6 never precedes.
bool ChartPrecedes(const ChartRecord &x, const ChartRecord &y, uint8_t key, bool ascending);

// Bubble sort with an early stop, at most 255 passes; returns the number of passes made.
int SortCharts(ChartOrder *order, uint8_t key, bool ascending);
