// Times what the player waits on, through the real window and its widgets: a keystroke in an
// entry field, a header click, an Insert, and the start of the program against the start of a
// window that paints the same texts itself and of a window that shows one label. Prints two
// Markdown tables and exits with 1 when an operation misses its budget.
//
// Run by scripts/bench from an empty directory on the disk the player's score file would be
// on, since Insert saves "Scores.txt" there and waits for it to be synced.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "Bk_control_main.h"
#include "session.h"
#include "chart_ordering.h"
#include "chart_table.h"
#include "journal_bench.h"
#include "score_file.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int KeystrokeRuns = 2000;
constexpr int SortRuns = 200;
constexpr int FillRuns = 300;
constexpr int InsertRuns = 300;
constexpr int StartRounds = 101;  // wall time and memory, each window once a round
constexpr int ReadyRounds = 11;   // memory once the program's comparison dialog is built
constexpr int WarmUpRuns = 20;
constexpr double MiB = 1024.0 * 1024.0;
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
constexpr const char *InsertChart = "MAXX UNLIMITED";  // 56 freezes: OK prefilled, no penalty

// The starts run on the X display scripts/bench starts for them, a window on a display server
// as the player's is, rather than on the offscreen platform of the rest of the benchmark.
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

// The start's rows compare three windows side by side and have columns of their own.
struct StartTable {
    std::vector<std::string> lines;
    bool allWithin = true;
};
StartTable StartRows;
std::vector<std::string> PlayRows;
std::vector<std::string> SizeRows;
std::vector<std::string> ColdRows;
bool PlaysWithin = true;

void AddRow(const std::string &operation, const Samples &samples, const char *unit, const std::string &budget, int within)
{
    Rows.push_back({operation, samples.values.size(), samples.Median(), samples.Percentile99(), unit, budget, within});
}

std::string Format(double value, const char *unit)
{
    char text[48];
    std::snprintf(text, sizeof text, std::strcmp(unit, "MiB") == 0 ? "%.1f %s" : "%.3f %s", value, unit);
    return text;
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

// ---- start of the program: separate processes, so each pays the toolkit's start-up anew

struct StartResult {
    double wholeMs;  // from just before the exec to the first painted frame
    double peakMiB;
};

std::string FirstFrameProgram()
{
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        Fail("cannot find the benchmark's own executable");
    std::string path(self, size_t(length));
    return path.substr(0, path.rfind('/') + 1) + "brisko_first_frame";
}

std::vector<std::string> StartEnvironment(int padding)
{
    std::vector<std::string> environment;
    if (padding > 0)
        environment.push_back("BRISKO_BENCH_PADDING=" + std::string(size_t(padding), 'x'));
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (StartDisplay() == nullptr ||
            (variable.rfind("QT_QPA_PLATFORM=", 0) != 0 && variable.rfind("DISPLAY=", 0) != 0))
            environment.push_back(variable);
    }
    if (StartDisplay() != nullptr) {
        environment.push_back("QT_QPA_PLATFORM=xcb");
        environment.push_back(std::string("DISPLAY=") + StartDisplay());
    }
    return environment;
}

// Spawns the command with the starts' environment, padded by that many bytes, in the given
// folder, its output into the pipe's write end when one is given and to /dev/null otherwise.
pid_t Spawn(std::vector<std::string> command, int output, int padding = 0, const char *folder = ".")
{
    std::vector<std::string> environment = StartEnvironment(padding);
    std::vector<char *> envp;
    for (std::string &variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<char *> argv;
    for (std::string &argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        Fail("cannot start " + command[0]);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// What a child writes into the pipe until it ends; the read end is closed afterwards.
std::string ReadToEnd(int pipe)
{
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(pipe, buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(got));
    close(pipe);
    return text;
}

// Starts brisko_first_frame in the given mode and waits for it; it prints the steady clock at
// its first painted frame, and ru_maxrss gives its peak resident memory.
StartResult RunStart(const char *mode, bool untilReady = false)
{
    static const std::string program = FirstFrameProgram();
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        Fail("pipe");
    const Clock::time_point start = Clock::now();
    std::vector<std::string> command = {program, mode};
    if (untilReady)
        command.push_back("--ready");
    const pid_t pid = Spawn(command, output[1]);
    close(output[1]);
    const std::string text = ReadToEnd(output[0]);
    int status = 0;
    rusage usage{};
    long long paintedNs = 0;
    double constructionMs = 0;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(text.c_str(), "%lld %lf", &paintedNs, &constructionMs) != 2)
        Fail(std::string("the start of ") + mode + " failed");
    const double wholeMs = double(paintedNs - std::chrono::nanoseconds(start.time_since_epoch()).count()) / 1e6;
    return {wholeMs, double(usage.ru_maxrss) * 1024.0 / MiB};  // ru_maxrss is in KiB
}

// The instructions of the whole process, from the exec to the first painted frame, where it
// exits; the count callgrind writes as the profile's "totals". Started in the folder given, under
// an environment padded by that many bytes.
double CountInstructions(const char *mode, int padding = 0, const char *folder = ".")
{
    static const std::string program = FirstFrameProgram();
    static const std::string here = [] {
        char path[4096];
        return std::string(getcwd(path, sizeof path) != nullptr ? path : ".");
    }();
    static int serial = 0;
    const std::string profile = here + "/callgrind." + std::string(mode) + "." + std::to_string(serial++);
    // %p: a child the toolkit forks writes a profile of its own under another name
    const pid_t pid = Spawn({"valgrind", "--tool=callgrind", "--fair-sched=yes", "--callgrind-out-file=" + profile + ".%p",
                             program, mode, "--exit-at-first-frame"},
                            -1, padding, folder);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(std::string("callgrind could not count the start of ") + mode + " in " + folder + " (" +
             (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "exit " + std::to_string(WEXITSTATUS(status))) +
             "; is valgrind installed?)");
    const std::string file = profile + "." + std::to_string(pid);
    FILE *stream = std::fopen(file.c_str(), "r");
    if (stream == nullptr)
        Fail("no profile " + file);
    double totals = -1;
    char line[512];
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        unsigned long long count = 0;
        if (std::sscanf(line, "totals: %llu", &count) == 1 || std::sscanf(line, "summary: %llu", &count) == 1)
            totals = double(count);
    }
    std::fclose(stream);
    std::remove(file.c_str());
    if (totals < 0)
        Fail("no instruction count in " + file);
    return totals;
}

std::string Cells(const std::vector<std::string> &cells)
{
    std::string row = "|";
    for (const std::string &cell : cells)
        row += " " + cell + " |";
    return row;
}

std::string Printed(const char *format, double a, double b = 0, double c = 0)
{
    char text[512];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

const char *Verdict(bool within)
{
    return within ? "yes" : "no";
}

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

// ---- the start against the score file's size

// A row's key (a folder, an interaction) and what its row says.
struct Named {
    const char *key, *says;
};

// Writes the records (four lines each: title, date, DP lost, a rule) into folder/Scores.txt.
// A file changed less than half a second ago may still be being written, and is read again
// until it is at rest: the starts and plays read files as a player's are, long at rest.
void LetFilesRest()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
}

int SettlePauses = 0;

void CountSettlePause()
{
    ++SettlePauses;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void WriteRecords(const char *folder, const std::vector<std::string> &records)
{
    if (mkdir(folder, 0700) != 0 && errno != EEXIST)
        Fail(std::string("cannot make ") + folder);
    FILE *file = std::fopen((std::string(folder) + "/Scores.txt").c_str(), "wb");
    if (file == nullptr)
        Fail(std::string("cannot write into ") + folder);
    for (const std::string &record : records)
        std::fputs(record.c_str(), file);
    if (std::fclose(file) != 0)
        Fail(std::string("cannot write into ") + folder);
}

std::vector<std::string> RecordsOf(const char *path)
{
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        Fail(std::string("cannot read ") + path);
    std::vector<std::string> records;
    std::string record;
    char line[512];
    for (int lines = 1; std::fgets(line, sizeof line, file) != nullptr; ++lines) {
        record += line;
        if (lines % 4 == 0)
            records.push_back(std::move(record)), record.clear();
    }
    std::fclose(file);
    return records;
}

long long FileSize(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

void BenchScoreFileSizes()
{
    std::vector<std::string> inOrder = RecordsOf("Scores.txt");
    std::vector<std::string> reversed(inOrder.rbegin(), inOrder.rend());
    std::vector<std::string> unknown;
    size_t bytes = 0;
    for (int serial = 0;; ++serial) {
        char record[96];
        std::snprintf(record, sizeof record, "A title no chart has %07d\n01/01/2005\n%d\n----------\n", serial, serial % 900);
        if (bytes + std::strlen(record) > size_t(MaxScoreFileSize))
            break;
        bytes += std::strlen(record);
        unknown.push_back(record);
    }
    WriteRecords("size-empty", {});
    WriteRecords("size-title-order", inOrder);
    WriteRecords("size-reverse-order", reversed);
    WriteRecords("size-unknown-titles", unknown);
    LetFilesRest();
    static const Named Sizes[] = {
        {"no-scores", "No Scores.txt"},
        {"size-empty", "An empty Scores.txt"},
        {"size-title-order", "Every chart scored, in title order"},
        {"size-reverse-order", "Every chart scored, in reverse title order"},
        {"size-unknown-titles", "2 MiB of titles no chart has (the largest file read)"},
    };
    std::vector<std::string> &lines = SizeRows;
    lines.push_back("| Start of the program, exec to first painted frame | Scores.txt | Instructions | Beyond no file | Per KiB of the file |");
    lines.push_back("|---|---:|---:|---:|---:|");
    double none = 0;
    for (const Named &size : Sizes) {
        Samples counts;
        for (int padding : {0, 32, 64})
            counts.values.push_back(CountInstructions("program", padding, size.key));
        const double instructions = counts.Median();
        if (none == 0)
            none = instructions;
        const long long fileBytes = FileSize(std::string(size.key) + "/Scores.txt");
        lines.push_back(Cells({size.says, Printed("%.0f bytes", double(fileBytes)), Printed("%.2f M", instructions / 1e6),
                               Printed("%+.2f M", (instructions - none) / 1e6),
                               fileBytes > 0 ? Printed("%.0f", (instructions - none) / (double(fileBytes) / 1024)) : "-"}));
    }
    lines.push_back("\nInstructions: callgrind --fair-sched=yes over the whole start, median of 3 environment sizes.");
}

// ---- the interactions as the player feels them, each with its repaint (bench/play.cpp)

constexpr int PlayRuns = 200;
constexpr int CountedPlayRuns = 20;  // under callgrind, some 50 times slower
constexpr int CompareSessions = 21;
constexpr double FrameMs = 1000.0 / 60;
constexpr const char *PlayFolder = "plays";

std::string SiblingProgram(const char *name)
{
    const std::string program = FirstFrameProgram();
    return program.substr(0, program.rfind('/') + 1) + name;
}

// Runs the command to its end and returns what it printed; fails the bench when it fails.
std::string Output(std::vector<std::string> command, const char *folder)
{
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        Fail("pipe");
    const pid_t pid = Spawn(command, output[1], 0, folder);
    close(output[1]);
    const std::string text = ReadToEnd(output[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("the run of " + command[0] + " " + command.back() + " failed");
    return text;
}

// "NAME MS" lines, as brisko_play prints them.
double Reported(const std::string &text, const std::string &name)
{
    const size_t at = text.find(name + " ");
    if (at == std::string::npos)
        Fail("brisko_play reported no " + name);
    return std::atof(text.c_str() + at + name.size() + 1);
}

// The instructions of each interaction: callgrind collects only the plays and dumps a profile
// for each interaction, named after it, with the sum of its runs.
std::vector<std::pair<std::string, double>> CountPlays()
{
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr)
        Fail("getcwd");
    const std::string profile = std::string(here) + "/callgrind.play";
    Output({"valgrind", "--tool=callgrind", "--fair-sched=yes", "--collect-atstart=no",
            "--callgrind-out-file=" + profile, SiblingProgram("brisko_play"), "plays", std::to_string(CountedPlayRuns)},
           PlayFolder);
    std::vector<std::pair<std::string, double>> counts;
    for (int dump = 1;; ++dump) {
        const std::string file = profile + "." + std::to_string(dump);
        FILE *stream = std::fopen(file.c_str(), "r");
        if (stream == nullptr)
            break;
        std::string name;
        double total = -1;
        char line[512];
        while (std::fgets(line, sizeof line, stream) != nullptr) {
            unsigned long long count = 0;
            char trigger[128];
            if (std::sscanf(line, "desc: Trigger: Client Request: %127s", trigger) == 1)
                name = trigger;
            if (std::sscanf(line, "summary: %llu", &count) == 1)
                total = double(count);
        }
        std::fclose(stream);
        std::remove(file.c_str());
        counts.emplace_back(name, name == "first-compare" ? total : total / CountedPlayRuns);
    }
    std::remove(profile.c_str());
    return counts;
}

void BenchPlays()
{
    // The plays insert scores: they start from a copy of the score file, beside the rival's
    // file, another player's with every chart scored.
    if (std::system("mkdir -p plays && cp Scores.txt plays/Scores.txt && cp Scores.txt plays/Rival.txt") != 0)
        Fail("cannot make the plays' folder");
    LetFilesRest();
    const std::vector<std::pair<std::string, double>> counts = CountPlays();
    const auto count = [&counts](const std::string &name) {
        for (const auto &[play, instructions] : counts)
            if (play == name)
                return instructions;
        Fail("no count of " + name);
    };
    const std::string walls = Output({SiblingProgram("brisko_play"), "plays", std::to_string(PlayRuns)}, PlayFolder);
    Samples first, later;
    for (int session = 0; session < CompareSessions; ++session) {
        const std::string text = Output({SiblingProgram("brisko_play"), "first"}, PlayFolder);
        first.values.push_back(Reported(text, "first-compare"));
        later.values.push_back(Reported(text, "later-compare"));
    }
    static const Named Plays[] = {
        {"keystroke", "Keystroke in an entry field ('1' and Backspace by turns)"},
        {"header-sort", "Header sort (Rank and % by turns)"},
        {"insert", "Insert, with its synced save"},
        {"file-print", "File Print"},
        {"full-compare", "Compare a full rival file, after the first (click, name, Enter, the list refilled)"},
        {"later-compare", "Compare after the first, click to the dialog's first frame"},
    };
    std::vector<std::string> &lines = PlayRows;
    lines.push_back("| Interaction, handler and repaint | Instructions | Wall, median | Of a 60 Hz frame | Budget | Within budget |");
    lines.push_back("|---|---:|---:|---:|---|---|");
    for (const Named &play : Plays) {
        const double ms = Reported(walls, play.key);
        lines.push_back(Cells({play.says, Printed("%.2f M", count(play.key) / 1e6), Printed("%.2f ms", ms),
                               Printed("%.0f %%", ms / FrameMs * 100), "-", "(reported)"}));
    }
    const bool within = first.Median() < FrameMs;
    PlaysWithin = within;
    lines.push_back(Cells({Printed("**Compare, the first of a session**, click to the dialog's first frame (wall: median of "
                                   "%.0f sessions; a later one in them: %.2f ms)",
                                   CompareSessions, later.Median()),
                           Printed("%.2f M", count("first-compare") / 1e6), Printed("%.2f ms", first.Median()),
                           Printed("%.0f %%", first.Median() / FrameMs * 100), Printed("median < %.1f ms", FrameMs),
                           Verdict(within)}));
    lines.push_back(Printed("\nInstructions: callgrind --fair-sched=yes, collecting the plays alone, the mean of %.0f plays "
                            "(the first Compare: one, after the window has been idle); wall: median of %.0f plays, "
                            "on the same display as the starts.",
                            CountedPlayRuns, PlayRuns));
}

// ---- a cold start: the page cache dropped before each start, where the machine allows it

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

// ---- the scoring core alone

// Scores, dates and comparison values spread over every chart, so that every key orders by
// its own values rather than by the title tie-break alone.
void ScoreEveryChart()
{
    std::mt19937 random(20050906);
    for (ChartRecord &chart : ChartTable) {
        std::uniform_int_distribution<int> dp(0, chart.maxDp);
        if (random() % 4 != 0) {
            chart.dpLost = uint16_t(dp(random));
            chart.day = uint8_t(1 + random() % 28);
            chart.month = uint8_t(1 + random() % 12);
            chart.year = uint16_t(2004 + random() % 3);
        }
        chart.enemyDpLost = uint16_t(dp(random));
    }
    FindChartByName(InsertChart)->dpLost = FindChartByName(InsertChart)->maxDp;  // room for every insert run
    FindChartByName(InsertChart)->day = 0;
    FindChartByName(InsertChart)->month = 0;
    FindChartByName(InsertChart)->year = 0;
}

void BenchSorts()
{
    static const char *KeyNames[] = {"name", "date", "AA allowance", "rank", "DP lost", "percentage", "difference"};
    for (uint8_t key = SortByName; key <= SortByDifference; ++key) {
        ChartOrder sorted{};
        InitChartTable(&sorted);
        ScoreEveryChart();
        SortCharts(&sorted, key, true);
        ChartOrder reversed = sorted;
        std::reverse(reversed.begin(), reversed.end());
        ChartOrder work{};
        Samples samples = Time(SortRuns, [&](int) {
            work = reversed;
            const Clock::time_point start = Clock::now();
            int passes = SortCharts(&work, key, true);
            double milliseconds = MillisecondsSince(start);
            if (work != sorted || passes != ChartCount - 1)
                Fail("the sort from the reversed order did not take every pass to the same order");
            return milliseconds;
        });
        AddRow(std::string("SortCharts by ") + KeyNames[key] + " from the reverse of its order (255 passes)", samples,
               "ms", "median < 2 ms", samples.Median() < 2.0);
    }
}

// ---- the window, driven through its widgets

template <typename Widget> Widget *Control(QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (widget == nullptr)
        Fail(std::string("no control named ") + name);
    return widget;
}

void ClickRow(QTreeView *list, const char *title)
{
    QAbstractItemModel *model = list->model();
    const QModelIndexList rows = model->match(model->index(0, 0), Qt::DisplayRole, QString::fromLatin1(title), 2,
                                              Qt::MatchExactly);
    if (rows.size() != 1)
        Fail(std::string("no row for ") + title);
    list->scrollTo(rows.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(rows.first()).center());
}

void ClickHeader(QTreeView *list, int column)
{
    QHeaderView *header = list->header();
    QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

void TypeInto(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

void BenchWindow()
{
    TBK_ControlMain window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        Fail("the window was never shown");
    QTreeView *list = Control<QTreeView>(window, "ListViewScores");
    QLineEdit *great = Control<QLineEdit>(window, "MemoGreat");
    QLineEdit *good = Control<QLineEdit>(window, "MemoGood");
    QLabel *dpLost = Control<QLabel>(window, "LabelDPMissResult");

    // A keystroke in Good: '1' and Backspace by turns, 10 and 12 DP lost on ABSOLUTE.
    ClickRow(list, "ABSOLUTE");
    TypeInto(great, QStringLiteral("10"));
    good->setFocus();
    good->clear();
    QCoreApplication::processEvents();
    Samples keystroke = Time(KeystrokeRuns, [&](int run) {
        const bool typeDigit = (run & 1) == 0;
        const Clock::time_point start = Clock::now();
        QTest::keyClick(good, typeDigit ? Qt::Key_1 : Qt::Key_Backspace);
        double milliseconds = MillisecondsSince(start);
        if (dpLost->text() != (typeDigit ? QStringLiteral("12") : QStringLiteral("10")))
            Fail("the keystroke did not recalculate");
        QCoreApplication::processEvents();  // the labels repaint between keystrokes, as when typing
        return milliseconds;
    });
    AddRow("Recalculation after one keystroke in an entry field", keystroke, "ms", "median < 0.2 ms",
           keystroke.Median() < 0.2);
    good->clear();

    // "Rank" and "%" by turns: two keys of the same order, so each click sorts in a single pass
    // of 255 comparisons and the rest is FillScoreList.
    const int columns[] = {3, 5};
    Samples fill = Time(FillRuns, [&](int run) {
        const Clock::time_point start = Clock::now();
        ClickHeader(list, columns[run & 1]);
        double milliseconds = MillisecondsSince(start);
        if (list->model()->rowCount() != ChartCount)
            Fail("the header click did not refill the list");
        QCoreApplication::processEvents();
        return milliseconds;
    });
    ChartOrder byPercent{};
    for (int i = 0; i < ChartCount; ++i)
        byPercent[i] = &ChartTable[i];
    SortCharts(&byPercent, SortByPercent, true);
    Samples onePass = Time(FillRuns, [&](int) {
        const Clock::time_point start = Clock::now();
        SortCharts(&byPercent, SortByRank, true);
        return MillisecondsSince(start);
    });
    char operation[160];
    std::snprintf(operation, sizeof operation,
                  "FillScoreList, 256 rows (a header click on Rank or %%; its one sort pass takes %.3f ms)",
                  onePass.Median());
    AddRow(operation, fill, "ms", "median < 4 ms", fill.Median() < 4.0);

    // Insert under the DP order, each run a DP lost one lower, so the chart moves up the list
    // and no warning is due.
    ClickHeader(list, 4);
    ClickRow(list, InsertChart);
    QPushButton *insert = Control<QPushButton>(window, "ButtonInsert");
    // the warning panel is made only when a warning is due
    const auto warned = [&window] {
        const auto *warning = window.findChild<QWidget *>(QStringLiteral("PanelWarning"));
        return warning != nullptr && warning->isVisible();
    };
    int nextDpLost = 1400;
    Samples inserts = Time(InsertRuns, [&](int) {
        const QString value = QString::number(nextDpLost--);
        TypeInto(great, value);
        QCoreApplication::processEvents();
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(insert, Qt::LeftButton);
        double milliseconds = MillisecondsSince(start);
        if (warned() || great->text() != value || list->currentIndex().siblingAtColumn(0).data().toString() != QLatin1String(InsertChart))
            Fail("the insert did not store the score and reselect the chart");
        QCoreApplication::processEvents();
        return milliseconds;
    });
    AddRow("Insert: commit, sort, refill, totals, synced atomic save, reselect", inserts, "ms", "median < 16 ms",
           inserts.Median() < 16.0);

    // Another program's Scores.txt, changed long ago: every merge reads it once, and its time
    // alone tells that it is at rest, so the wait for a file being written costs it nothing.
    FILE *other = std::fopen("Scores.txt", "ab");
    if (other == nullptr || std::fputs("\n", other) == EOF || std::fclose(other) != 0)
        Fail("cannot change the score file");
    LetFilesRest();
    SetPauseBeforeReadingAgain(CountSettlePause);
    bool unsaved[ChartCount] = {};
    Samples merges = Time(InsertRuns, [&](int) {
        ForgetScoreFile();  // no text this process saw: only the file's time can tell
        ScoreFileStatus status;
        const Clock::time_point start = Clock::now();
        MergeOwnScoreFile(unsaved, status);
        return MillisecondsSince(start);
    });
    SetPauseBeforeReadingAgain(nullptr);
    AddRow("Merge of a Scores.txt another program changed long ago: one read, no pause", merges, "ms",
           "no pause, median < 1 ms", SettlePauses == 0 && merges.Median() < 1.0);
}

// The score file the windows start from, most charts scored, as a player's would be.
void WriteScoreFile(const ChartRecord (&pristine)[ChartCount])
{
    std::memcpy(ChartTable, pristine, sizeof pristine);
    ChartOrder order{};
    InitChartTable(&order);
    ScoreEveryChart();
    if (!SaveScoreFile())
        Fail("cannot write Scores.txt in the current directory");
    std::memcpy(ChartTable, pristine, sizeof pristine);
}

}  // namespace

// With --write-scores it only writes the score file it starts the windows from, for screenshots.
int main(int argc, char *argv[])
{
    ChartRecord pristine[ChartCount];
    std::memcpy(pristine, ChartTable, sizeof pristine);
    if (argc == 2 && std::strcmp(argv[1], "--write-scores") == 0) {
        WriteScoreFile(pristine);
        return 0;
    }
    BenchSorts();
    WriteScoreFile(pristine);
    LetFilesRest();
    BenchStart();
    if (std::getenv("BRISKO_BENCH_COLD") != nullptr)
        BenchColdStart();
    BenchScoreFileSizes();
    BenchPlays();
    bool journalWithin = true;
    {
        QApplication application(argc, argv);
        TSession session;
        TBK_ControlMain::SetErrorPresenter([](const QString &message) { Fail(message.toStdString()); });
        BenchWindow();
        journalWithin = BenchJournal();
    }
    return PrintTable() && journalWithin ? 0 : 1;
}
