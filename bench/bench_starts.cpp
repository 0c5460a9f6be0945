// The start of the program against the start of a window that paints the same texts itself and
// of a window that shows one label: instructions, wall time and memory, each a fresh process;
// and, where the machine lets its page cache be dropped, the same start cold.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench.h"

namespace bench {

namespace {

constexpr int StartRounds = 101;  // wall time and memory, each window once a round
constexpr int ReadyRounds = 11;   // memory once the program's comparison dialog is built
constexpr double InstructionFactor = 1.10;
constexpr double MemoryFactor = 1.10;  // of the same-texts window's peak in the same run
// Where the stack starts moves with the size of the environment, and with it what a string
// compare or a copy costs where the data falls against a cache line: the same program counts up
// to 1 % more or less from one environment to the next. Each window is counted under
// environments this many bytes larger than the bench's own, and judged by the median.
constexpr int EnvironmentPaddings[] = {0, 16, 32, 48, 64};
// A start counted twice, under the same environment, agrees this closely. callgrind runs a
// start's threads by turns; with --fair-sched=yes it hands the turns round in a fixed order, so
// that a busy machine's scheduling does not decide which thread allocates first. What is left
// moves with how fast the X server answers, as the event loop wakes more or less often: up to
// 0.35 % in every window alike, the references included, whose code never changes. A start
// whose own work depends on timing (a second paint, a timer racing the first frame) moves by a
// percent or more.
constexpr double CountSpreadLimit = 0.005;

// A cold start: the page cache dropped before each start, where the machine allows it.
constexpr int ColdRounds = 11;

bool DropPageCache()
{
    sync();
    const int file = open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    const bool dropped = write(file, "3", 1) == 1;
    close(file);
    return dropped;
}

}  // namespace

void BenchStart()
{
    // The program and its two reference windows by turns, so that a busy moment of the machine
    // falls on all alike.
    struct Start {
        const char *mode;
        Samples wall, memory, instructions, withoutScores, readyMemory;
        double repeatDeviation = 0;  // of a second count under the first environment
    };
    Start program{"program", {}, {}, {}, {}, {}}, texts{"texts", {}, {}, {}, {}, {}}, label{"label", {}, {}, {}, {}, {}};
    Start *turns[] = {&program, &texts, &label};
    for (Start *start : turns)
        RunStart(start->mode);  // the first start reads the libraries and fonts from disk for all
    for (int round = 0; round < StartRounds; ++round) {
        for (Start *start : turns) {
            const StartResult result = RunStart(start->mode);
            start->wall.values.push_back(result.wholeMs);
            start->memory.values.push_back(result.peakMiB);
        }
    }
    // The program builds its comparison dialog once it has been idle after its first frame.
    for (int round = 0; round < ReadyRounds; ++round) {
        for (Start *start : {&program, &texts})
            start->readyMemory.values.push_back(RunStart(start->mode, true).peakMiB);
    }
    // A player's first start has no Scores.txt yet: the program and its reference start from an
    // empty folder as well.
    if (mkdir("no-scores", 0700) != 0 && errno != EEXIST)
        Fail("cannot make the folder without Scores.txt");
    for (Start *start : turns)
        CountInstructions(start->mode);  // callgrind's own first read of every library
    for (int padding : EnvironmentPaddings) {
        for (Start *start : turns) {
            start->instructions.values.push_back(CountInstructions(start->mode, padding));
            if (start != &label)
                start->withoutScores.values.push_back(CountInstructions(start->mode, padding, "no-scores"));
        }
    }
    for (Start *start : turns)
        start->repeatDeviation = std::fabs(CountInstructions(start->mode) / start->instructions.values.front() - 1.0);

    const auto range = [](const Samples &samples) {
        const auto [least, most] = std::minmax_element(samples.values.begin(), samples.values.end());
        return Printed("%.2f M (%.2f to %.2f)", samples.Median() / 1e6, *least / 1e6, *most / 1e6);
    };
    std::vector<std::string> counts, ratios, bare, bareRatios, walls, memories;
    for (Start *start : turns) {
        counts.push_back(range(start->instructions));
        ratios.push_back(Printed("%.3f", start->instructions.Median() / texts.instructions.Median()));
        bare.push_back(start->withoutScores.values.empty() ? "-" : range(start->withoutScores));
        bareRatios.push_back(start->withoutScores.values.empty()
                                 ? "-"
                                 : Printed("%.3f", start->withoutScores.Median() / texts.withoutScores.Median()));
        walls.push_back(Printed("%.1f ms (%.1f to %.1f)", start->wall.Median(), start->wall.Quantile(0.25),
                                start->wall.Quantile(0.75)));
        memories.push_back(start == &texts ? Printed("%.2f MiB", start->memory.Median())
                                           : Printed("%.2f MiB (%+.2f MiB, %.3f)", start->memory.Median(),
                                                     start->memory.Median() - texts.memory.Median(),
                                                     start->memory.Median() / texts.memory.Median()));
    }
    const double instructionLimit = InstructionFactor * texts.instructions.Median();
    const double bareLimit = InstructionFactor * texts.withoutScores.Median();
    const double memoryLimit = MemoryFactor * texts.memory.Median();
    const bool instructionsWithin = program.instructions.Median() <= instructionLimit;
    const bool bareWithin = program.withoutScores.Median() <= bareLimit;
    const bool memoryWithin = program.memory.Median() <= memoryLimit;
    // The one-label window enters no budget: its spread is shown, and fails nothing.
    const bool steady = std::max(program.repeatDeviation, texts.repeatDeviation) <= CountSpreadLimit;
    StartRows.allWithin = instructionsWithin && bareWithin && memoryWithin && steady;

    const std::string sizes = Printed("%.0f environment sizes, %.0f to %.0f bytes more", double(std::size(EnvironmentPaddings)),
                                      EnvironmentPaddings[0], EnvironmentPaddings[std::size(EnvironmentPaddings) - 1]);
    std::vector<std::string> &lines = StartRows.lines;
    lines.push_back("| Start, exec to first painted frame | The program | Same texts, one paintEvent | One label | "
                    "Budget | Within budget |");
    lines.push_back("|---|---:|---:|---:|---|---|");
    lines.push_back(Cells({"Instructions with 256 records (callgrind --fair-sched=yes, whole process; median (range) of " +
                               sizes + ")",
                           counts[0], counts[1], counts[2],
                           Printed("program <= %.2f x same texts = %.2f M", InstructionFactor, instructionLimit / 1e6),
                           Verdict(instructionsWithin)}));
    lines.push_back(Cells({"Instructions against the same-texts window", ratios[0], ratios[1], ratios[2], "-", ""}));
    lines.push_back(Cells({"Instructions without Scores.txt, as above", bare[0], bare[1], bare[2],
                           Printed("program <= %.2f x same texts = %.2f M", InstructionFactor, bareLimit / 1e6),
                           Verdict(bareWithin)}));
    lines.push_back(Cells({"Instructions without Scores.txt against the same-texts window", bareRatios[0], bareRatios[1],
                           bareRatios[2], "-", ""}));
    lines.push_back(Cells({Printed("Wall time, median (quartiles) of %.0f alternating fresh processes", StartRounds),
                           walls[0], walls[1], walls[2], "-", "(reported)"}));
    lines.push_back(Cells({Printed("Peak memory (ru_maxrss, with what the window does right after its first frame), "
                                   "median of %.0f",
                                   StartRounds),
                           memories[0], memories[1], memories[2],
                           Printed("program <= %.2f x same texts = %.2f MiB", MemoryFactor, memoryLimit),
                           Verdict(memoryWithin)}));
    lines.push_back(Cells({Printed("Peak memory 3 s after the first frame, the comparison dialog built while idle, median of %.0f",
                                   ReadyRounds),
                           Printed("%.2f MiB (%+.2f MiB)", program.readyMemory.Median(),
                                   program.readyMemory.Median() - texts.readyMemory.Median()),
                           Printed("%.2f MiB", texts.readyMemory.Median()), "-", "-", "(reported)"}));
    lines.push_back(Cells({"The same start counted twice, with 256 records and the first environment",
                           Printed("±%.3f %%", program.repeatDeviation * 100), Printed("±%.3f %%", texts.repeatDeviation * 100),
                           Printed("±%.3f %%", label.repeatDeviation * 100),
                           Printed("the program and the same-texts window each within ±%.1f %%", CountSpreadLimit * 100),
                           Verdict(steady)}));
}

void BenchColdStart()
{
    std::vector<std::string> &lines = ColdRows;
    if (!DropPageCache()) {
        lines.push_back(std::string("Cold start: not measured, as this machine refuses to drop its page cache "
                                    "(/proc/sys/vm/drop_caches: ") + std::strerror(errno) +
                        "); the warm figures are those of the start's table above.");
        return;
    }
    Samples cold[2], warm[2];
    const char *modes[] = {"program", "texts"};
    for (int round = 0; round < ColdRounds; ++round) {
        for (int window = 0; window < 2; ++window) {
            if (!DropPageCache())
                Fail("the page cache could be dropped once, then no more");
            cold[window].values.push_back(RunStart(modes[window]).wholeMs);
            warm[window].values.push_back(RunStart(modes[window]).wholeMs);
        }
    }
    lines.push_back("| Start, exec to first painted frame, wall | The program | Same texts, one paintEvent |");
    lines.push_back("|---|---:|---:|");
    const auto cell = [](const Samples &samples) {
        return Printed("%.1f ms (%.1f to %.1f)", samples.Median(), samples.Quantile(0.25), samples.Quantile(0.75));
    };
    lines.push_back(Cells({Printed("Cold: the page cache dropped before each start, median (quartiles) of %.0f", ColdRounds),
                           cell(cold[0]), cell(cold[1])}));
    lines.push_back(Cells({"Warm: the same start right after each cold one", cell(warm[0]), cell(warm[1])}));
}

}  // namespace bench
