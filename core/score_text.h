#pragma once

#include <cstdint>

#include "chart_table.h"

// Texts of the list cells and result labels, in small fixed buffers.
struct ShortText {
    char text[24];
};

// "%02d/%02d/%02d" of day, month and year: 06/09/2005, or 00/00/00 without a score.
ShortText ListDateText(const ChartRecord &chart);

// "%02d.%02d" of a percentage in hundredths: 95.05, 100.00, 00.00.
ShortText PercentFieldText(uint16_t percent);

// "%5d" with a "+" right before the digits of a positive value: "   +7", "  -7", "+12345".
ShortText DifferenceText(int32_t difference);

// The result label's percentage: 100.00%, 0.05%.
ShortText PercentLabelText(uint16_t percent);
