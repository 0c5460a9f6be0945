// The files the player chooses in a dialog, reached as the system spells names, one file per
// system: chosen_files_posix.cpp and chosen_files_windows.cpp. On Windows that is the wide form,
// as the code page of 8-bit names would turn a name it cannot hold into another file's name.
#pragma once

#include <cstdint>

#include <QString>

#include "chart_table.h"

struct SaveFailure;
struct ScoreFileStatus;

bool ReadComparisonFile(const QString &fileName, ScoreFileStatus *status);
bool WriteExport(const QString &fileName, const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing,
                 SaveFailure *failure);
