#include "print_file.h"

#include "atomic_file.h"
#include "dp_scoring.h"
#include "score_file.h"
#include "score_text.h"

namespace {

constexpr int PrintedAllowanceCap = 99;  // the field is two characters wide
constexpr int PrintedTitleWidth = 40;

void PrintChartLine(AtomicFileWriter &file, const ChartRecord &chart)
{
    uint16_t percent = ChartPercent(chart);
    int allowance = chart.aaAllowance > PrintedAllowanceCap ? PrintedAllowanceCap : chart.aaAllowance;
    file.Print("|%-*.*s|%2d|", PrintedTitleWidth, PrintedTitleWidth, chart.name, allowance);
    file.Print("%3s|", RankName(percent));
    file.Print("%4d|", chart.dpLost);
    file.Print("%s%%|\n", PercentFieldText(percent).text);
}

}  // namespace

bool WritePrintFile(const ChartOrder *order, SaveFailure *failure)
{
    if (order == nullptr)
        return false;
    if (LeadsToFileOf(PrintFileName, ScoreFileName, false))
        return RefuseOverwriting(failure, ScoreFileName);
    AtomicFileWriter file(PrintFileName, SpecialTarget::WriteInto);
    for (const ChartRecord *chart : *order)
        PrintChartLine(file, *chart);
    return file.Commit(failure);
}
