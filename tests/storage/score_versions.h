#pragma once

#include <cstdint>

#include "chart_table.h"

// The scores a saver writes in its k-th save. Chart 0 holds k itself and every other chart a
// value derived from k and its position, so a loaded file tells which save it came from and
// whether every record of it belongs to that save.
constexpr uint32_t LastScoreVersion = UINT16_MAX;  // chart 0's dpLost holds the version

inline void ApplyScoreVersion(uint32_t version)
{
    for (uint32_t i = 0; i < uint32_t(ChartCount); ++i) {
        ChartRecord &chart = ChartTable[i];
        uint32_t derived = version * 7919u + i * 104729u;
        chart.dpLost = static_cast<uint16_t>(i == 0 ? version : derived % 65536u);
        chart.day = static_cast<uint8_t>(1 + (version + i) % 31);
        chart.month = static_cast<uint8_t>(1 + (version * 3 + i) % 12);
        chart.year = static_cast<uint16_t>(2000 + (version + 7 * i) % 100);
    }
}
