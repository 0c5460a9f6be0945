#pragma once

#include "chart_table.h"

constexpr const char *PrintFileName = "OutPrint.txt";

// Writes "OutPrint.txt": one fixed-width line per chart in display order, own scores only.
// A file that cannot be written leaves the previous one as it was.
void WritePrintFile(const ChartOrder *order);
