#pragma once

// What the benchmark's parts share: the samples and their timing, the tables they fill and print,
// and the child processes the starts and the plays run in. Each part fills a table of its own:
//   bench_tables.cpp      the tables, and how they are printed
//   bench_processes.cpp   children: the first frame's program, its counts under callgrind, brisko_play
//   bench_starts.cpp      the starts against the reference windows, warm and cold
//   bench_file_sizes.cpp  the start against the score file's size
//   bench_plays.cpp       the interactions as brisko_play plays them, each with its repaint
//   bench_window.cpp      the window driven through its widgets in this process
//   brisko_bench.cpp      the scoring core's sorts, the score file the windows start from, main
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace bench {

using Clock = std::chrono::steady_clock;

constexpr int WarmUpRuns = 20;
constexpr const char *InsertChart = "MAXX UNLIMITED";  // 56 freezes: OK prefilled, no penalty

// The starts run on the X display scripts/bench starts for them, a window on a display server
// as the player's is, rather than on the offscreen platform of the rest of the benchmark.
const char *StartDisplay();

double MillisecondsSince(Clock::time_point start);

[[noreturn]] void Fail(const std::string &why);

struct Samples {
    std::vector<double> values;

    double Median() const { return Quantile(0.5); }
    double Percentile99() const { return Quantile(0.99); }

    // Nearest rank: the smallest value with at least the given share of samples at or below it.
    double Quantile(double share) const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        size_t rank = static_cast<size_t>(std::ceil(share * double(sorted.size())));
        return sorted[std::max<size_t>(rank, 1) - 1];
    }
};

template <typename Step> Samples Time(int runs, Step step)
{
    Samples samples;
    samples.values.reserve(size_t(runs));
    for (int run = -WarmUpRuns; run < runs; ++run) {
        double milliseconds = step(run);
        if (run >= 0)
            samples.values.push_back(milliseconds);
    }
    return samples;
}

// ---- the tables (bench_tables.cpp)

void AddRow(const std::string &operation, const Samples &samples, const char *unit, const std::string &budget, int within);

// The start's rows compare three windows side by side and have columns of their own.
struct StartTable {
    std::vector<std::string> lines;
    bool allWithin = true;
};
extern StartTable StartRows;
extern std::vector<std::string> PlayRows;
extern std::vector<std::string> SizeRows;
extern std::vector<std::string> ColdRows;
extern bool PlaysWithin;

// Prints every table; yields whether every row is within its budget.
bool PrintTable();

std::string Cells(const std::vector<std::string> &cells);
std::string Printed(const char *format, double a, double b = 0, double c = 0);
const char *Verdict(bool within);

// A row's key (a folder, an interaction) and what its row says.
struct Named {
    const char *key, *says;
};

// ---- children (bench_processes.cpp): separate processes, so each pays the toolkit's start-up anew

struct StartResult {
    double wholeMs;  // from just before the exec to the first painted frame
    double peakMiB;
};

std::string FirstFrameProgram();
std::string SiblingProgram(const char *name);

// Spawns the command with the starts' environment, padded by that many bytes, in the given
// folder, its output into the pipe's write end when one is given and to /dev/null otherwise.
pid_t Spawn(std::vector<std::string> command, int output, int padding = 0, const char *folder = ".");

// What a child writes into the pipe until it ends; the read end is closed afterwards.
std::string ReadToEnd(int pipe);

// Runs the command to its end and returns what it printed; fails the bench when it fails.
std::string Output(std::vector<std::string> command, const char *folder);

// Starts brisko_first_frame in the given mode and waits for it; it prints the steady clock at
// its first painted frame, and ru_maxrss gives its peak resident memory.
StartResult RunStart(const char *mode, bool untilReady = false);

// The instructions of the whole process, from the exec to the first painted frame, where it
// exits; the count callgrind writes as the profile's "totals". Started in the folder given, under
// an environment padded by that many bytes.
double CountInstructions(const char *mode, int padding = 0, const char *folder = ".");

// A file changed less than half a second ago may still be being written, and is read again
// until it is at rest: the starts and plays read files as a player's are, long at rest.
void LetFilesRest();

// ---- the parts, each filling its table

void BenchStart();
void BenchColdStart();
void BenchScoreFileSizes();
void BenchPlays();
void BenchWindow();

}  // namespace bench
