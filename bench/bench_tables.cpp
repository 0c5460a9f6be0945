// The tables every part of the benchmark fills, printed as Markdown for the README in the order
// the README shows them, and the verdict over all their budgets.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include <QString>

#include "bench.h"

namespace bench {

const char *StartDisplay()
{
    return std::getenv("BRISKO_BENCH_DISPLAY");
}

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string &why)
{
    std::fprintf(stderr, "bench: %s\n", why.c_str());
    std::exit(2);
}

namespace {

struct Row {
    std::string operation;
    size_t runs;
    double median;
    double p99;
    const char *unit;
    std::string budget;
    int within;  // 1 yes, 0 no, -1 a reference without a budget of its own
};

std::vector<Row> Rows;

std::string Format(double value, const char *unit)
{
    char text[48];
    std::snprintf(text, sizeof text, std::strcmp(unit, "MiB") == 0 ? "%.1f %s" : "%.3f %s", value, unit);
    return text;
}

}  // namespace

StartTable StartRows;
std::vector<std::string> PlayRows;
std::vector<std::string> SizeRows;
std::vector<std::string> ColdRows;
bool PlaysWithin = true;

void AddRow(const std::string &operation, const Samples &samples, const char *unit, const std::string &budget, int within)
{
    Rows.push_back({operation, samples.values.size(), samples.Median(), samples.Percentile99(), unit, budget, within});
}

bool PrintTable()
{
    bool allWithin = StartRows.allWithin;
    std::printf("Release build, QT_QPA_PLATFORM=%s, %ld cores; times from steady_clock, memory from ru_maxrss.\n",
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toLatin1().constData(),
                sysconf(_SC_NPROCESSORS_ONLN));
    if (StartDisplay() != nullptr)
        std::printf("The starts run on xcb, on an Xvfb display of their own without a window manager or session bus.\n");
    std::printf("\n");
    for (const std::string &line : StartRows.lines)
        std::printf("%s\n", line.c_str());
    std::printf("\n");
    for (const std::vector<std::string> *table : {&ColdRows, &PlayRows, &SizeRows}) {
        for (const std::string &line : *table)
            std::printf("%s\n", line.c_str());
        std::printf("\n");
    }
    allWithin = allWithin && PlaysWithin;
    std::printf("| Operation | Runs | Median | 99th percentile | Budget | Within budget |\n");
    std::printf("|---|---:|---:|---:|---|---|\n");
    for (const Row &row : Rows) {
        allWithin = allWithin && row.within != 0;
        std::printf("| %s | %zu | %s | %s | %s | %s |\n", row.operation.c_str(), row.runs,
                    Format(row.median, row.unit).c_str(), Format(row.p99, row.unit).c_str(), row.budget.c_str(),
                    row.within < 0 ? "(reference)" : row.within ? "yes" : "no");
    }
    return allWithin;
}

std::string Cells(const std::vector<std::string> &cells)
{
    std::string row = "|";
    for (const std::string &cell : cells)
        row += " " + cell + " |";
    return row;
}

std::string Printed(const char *format, double a, double b, double c)
{
    char text[512];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

const char *Verdict(bool within)
{
    return within ? "yes" : "no";
}

}  // namespace bench
