#include "list_export.h"

#include <cstdio>
#include <cstring>

#include "dp_scoring.h"

namespace {

void AppendNumber(std::string &out, int64_t value)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    out += digits;
}

}  // namespace

void AppendCsvField(std::string &out, const char *field)
{
    if (std::strpbrk(field, ",\"\r\n") == nullptr) {
        out += field;
        return;
    }
    out += '"';
    for (const char *c = field; *c != '\0'; ++c) {
        if (*c == '"')
            out += '"';
        out += *c;
    }
    out += '"';
}

std::string FormatListExport(const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing)
{
    std::string out;
    out.reserve(ChartCount * 96);
    out += "title,steps,freezes,max_dp,dp_lost,dp,percent,rank,date,plays";
    out += comparing ? ",rival_dp_lost,difference\n" : "\n";
    for (const ChartRecord *chart : order) {
        const uint16_t percent = ChartPercent(*chart);
        char fields[96];
        std::snprintf(fields, sizeof fields, ",%u,%u,%u,%u,%d,%u.%02u,%s,", unsigned(chart->steps),
                      unsigned(chart->freezes), unsigned(chart->maxDp), unsigned(chart->dpLost),
                      int(chart->maxDp) - int(CappedLoss(chart->maxDp, chart->dpLost)), unsigned(percent / 100),
                      unsigned(percent % 100), RankName(percent));
        AppendCsvField(out, chart->name);
        out += fields;
        if (chart->year != 0 || chart->month != 0 || chart->day != 0) {
            char date[24];
            std::snprintf(date, sizeof date, "%04u-%02u-%02u", unsigned(chart->year), unsigned(chart->month),
                          unsigned(chart->day));
            out += date;
        }
        out += ',';
        AppendNumber(out, plays[chart->index]);
        if (comparing) {
            out += ',';
            AppendNumber(out, chart->enemyDpLost);
            out += ',';
            AppendNumber(out, ChartDifference(*chart));
        }
        out += '\n';
    }
    return out;
}

bool WriteListExport(const char *name, const ChartOrder &order, const uint32_t (&plays)[ChartCount], bool comparing,
                     SaveFailure *failure)
{
    const std::string text = FormatListExport(order, plays, comparing);
    return WriteWholeFile(name, text.data(), text.size(), SpecialTarget::Refuse, failure);
}

#ifdef _WIN32
bool WriteListExport(const wchar_t *name, const ChartOrder &order, const uint32_t (&plays)[ChartCount],
                     bool comparing, SaveFailure *failure)
{
    const std::string text = FormatListExport(order, plays, comparing);
    return WriteWholeFile(name, text.data(), text.size(), SpecialTarget::Refuse, failure);
}
#endif
