#include "score_text.h"

#include <cstdio>

ShortText ListDateText(const ChartRecord &chart)
{
    ShortText out{};
    std::snprintf(out.text, sizeof out.text, "%02d/%02d/%02d", chart.day, chart.month, chart.year);
    return out;
}

ShortText PercentFieldText(uint16_t percent)
{
    ShortText out{};
    std::snprintf(out.text, sizeof out.text, "%02d.%02d", percent / 100, percent % 100);
    return out;
}

ShortText DifferenceText(int32_t difference)
{
    ShortText out{};
    if (difference > 0) {
        char signedDigits[16];
        std::snprintf(signedDigits, sizeof signedDigits, "+%d", difference);
        std::snprintf(out.text, sizeof out.text, "%5s", signedDigits);
    } else {
        std::snprintf(out.text, sizeof out.text, "%5d", difference);
    }
    return out;
}

ShortText PercentLabelText(uint16_t percent)
{
    ShortText out{};
    std::snprintf(out.text, sizeof out.text, "%d.%02d%%", percent / 100, percent % 100);
    return out;
}
