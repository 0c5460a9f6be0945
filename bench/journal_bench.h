#pragma once

// The play journal's costs in the window, with a table of their own: an Insert with its append
// against one whose journal is refused, and a chart's history from a journal of years.
// Yields true when every row is within its budget. Runs in the bench's directory.
bool BenchJournal();
