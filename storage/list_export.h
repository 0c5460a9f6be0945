#pragma once

// The list as a spreadsheet reads it: one CSV line a chart, in the order the list shows them,
// under a header line naming the columns. RFC 4180 quoting; each "\n" becomes the system's line
// end as the file is written.
//
//   title, steps, freezes, max_dp, dp_lost, dp    the chart and its own score
//   percent, rank                                 as the list shows them: 98.50, AA
//   date                                          2026-12-08, empty for a chart without a score
//   plays                                         its lines in the play journal
//   rival_dp_lost, difference                     only while comparing

#include <cstdint>
#include <string>

#include "chart_table.h"
#include "file_system.h"

// Appends field to out, quoted where a comma, a quote or a line end in it asks for it.
void AppendCsvField(std::string &out, const char *field);

// The whole text: plays holds each chart's journal lines by its index.
std::string FormatListExport(const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing);

// Writes that text through a temporary, as the print file is: the old file stays as it was on
// any failure, which failure then says. Only a regular file is ever replaced.
bool WriteListExport(const char *name, const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing,
                     SaveFailure *failure);
#ifdef _WIN32
bool WriteListExport(const wchar_t *name, const ChartOrder &order, const uint32_t (&plays)[ChartCount],
                     bool comparing, SaveFailure *failure);
#endif
