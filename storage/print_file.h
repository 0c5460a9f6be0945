#pragma once

#include "atomic_file.h"
#include "chart_table.h"

constexpr const char *PrintFileName = "OutPrint.txt";

// Writes "OutPrint.txt": one fixed-width line per chart in display order, own scores only. A
// named pipe or a device of that name gets the listing; a regular file is replaced whole or,
// on failure, left as it was, and failure, when given, says why.
bool WritePrintFile(const ChartOrder *order, SaveFailure *failure = nullptr);
