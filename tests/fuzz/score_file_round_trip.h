#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "chart_table.h"

// One score file, as another player might hand it over, taken through everything the program
// does with such a file: the own load, the comparison load, a save and a reload. Works in the
// current directory, where it writes "Scores.txt".
class ScoreFileRoundTrip {
public:
    // Takes ChartTable as it is now as the state before any load; every check starts from it
    // and puts it back when done.
    ScoreFileRoundTrip();

    // Empty when every check held, else what broke, for the failure report.
    std::string Check(const uint8_t *data, size_t size);

private:
    void Reset();
    std::string Run(const uint8_t *data, size_t size);

    ChartRecord pristine_[ChartCount];
    ChartOrder order_{};
};
