// Times what the player waits on, through the real window and its widgets: a keystroke in an
// entry field, a header click, an Insert, and the start of the program against the start of a
// window that shows one label. Prints one Markdown table and exits with 1 when an operation misses its budget.
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
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "Bk_control_main.h"
#include "chart_ordering.h"
#include "chart_table.h"
#include "score_file.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int KeystrokeRuns = 2000;
constexpr int SortRuns = 200;
constexpr int FillRuns = 300;
constexpr int InsertRuns = 300;
constexpr int StartRuns = 21;  // each for the program and for every reference window
constexpr int WarmUpRuns = 20;
constexpr double MiB = 1024.0 * 1024.0;
constexpr double StartFactor = 1.15;
constexpr double ExtraMemoryMiB = 4.0;
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

    double Median() const { return Rank(0.5); }
    double Percentile99() const { return Rank(0.99); }

private:
    // Nearest rank: the smallest value with at least the given share of samples at or below it.
    double Rank(double share) const
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
    bool allWithin = true;
    std::printf("Release build, QT_QPA_PLATFORM=%s, %ld cores; times from steady_clock, memory from ru_maxrss.\n",
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toLatin1().constData(),
                sysconf(_SC_NPROCESSORS_ONLN));
    if (StartDisplay() != nullptr)
        std::printf("The starts run on xcb, on an Xvfb display of their own without a window manager.\n");
    std::printf("\n");
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
    double wholeMs;         // from just before the exec to the first painted frame
    double constructionMs;  // from the construction of the window to that frame
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

std::vector<std::string> StartEnvironment()
{
    std::vector<std::string> environment;
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

// Starts brisko_first_frame in the given mode and waits for it; it prints the steady clock at
// its first painted frame, and ru_maxrss gives its peak resident memory.
StartResult RunStart(const char *mode)
{
    static const std::string program = FirstFrameProgram();
    static std::vector<std::string> environment = StartEnvironment();
    static std::vector<char *> envp = [] {
        std::vector<char *> pointers;
        for (std::string &variable : environment)
            pointers.push_back(variable.data());
        pointers.push_back(nullptr);
        return pointers;
    }();
    int output[2];
    if (pipe(output) != 0)
        Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string path = program;
    std::string modeText = mode;
    char *argv[] = {path.data(), modeText.data(), nullptr};
    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0)
        Fail("cannot start " + program);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    std::string text;
    char buffer[128];
    ssize_t got;
    while ((got = read(output[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(got));
    close(output[0]);
    int status = 0;
    rusage usage{};
    long long paintedNs = 0;
    double constructionMs = 0;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(text.c_str(), "%lld %lf", &paintedNs, &constructionMs) != 2)
        Fail(std::string("the start of ") + mode + " failed");
    const double wholeMs = double(paintedNs - std::chrono::nanoseconds(start.time_since_epoch()).count()) / 1e6;
    return {wholeMs, constructionMs, double(usage.ru_maxrss) * 1024.0 / MiB};  // ru_maxrss is in KiB
}

void BenchStart()
{
    // The program and the one-label window by turns, so that a busy moment of the machine
    // falls on both alike; the "warm-" starts load the font database before the clock.
    struct Start {
        const char *mode;
        Samples whole, construction, memory;
    };
    Start program{"program", {}, {}, {}}, label{"label", {}, {}, {}};
    Start warmProgram{"warm-program", {}, {}, {}}, warmLabel{"warm-label", {}, {}, {}};
    Start *turns[] = {&program, &label, &warmProgram, &warmLabel};
    for (Start *start : turns)
        RunStart(start->mode);  // the first start reads the libraries and fonts from disk for all
    for (int run = 0; run < StartRuns; ++run) {
        for (Start *start : turns) {
            StartResult result = RunStart(start->mode);
            start->whole.values.push_back(result.wholeMs);
            start->construction.values.push_back(result.constructionMs);
            start->memory.values.push_back(result.peakMiB);
        }
    }
    const double frameLimit = StartFactor * label.whole.Median();
    const double memoryLimit = label.memory.Median() + ExtraMemoryMiB;
    char budget[96];
    std::snprintf(budget, sizeof budget, "median <= %.2f x one label = %.3f ms", StartFactor, frameLimit);
    AddRow("Start of the program, exec to first painted frame", program.whole, "ms", budget,
           program.whole.Median() <= frameLimit);
    AddRow("Start of a window of that size with one QLabel, exec to first painted frame", label.whole, "ms", "-", -1);
    AddRow("The program's window, construction to first painted frame, font database loaded before",
           warmProgram.construction, "ms", "-", -1);
    AddRow("The one-label window, construction to first painted frame, font database loaded before",
           warmLabel.construction, "ms", "-", -1);
    std::snprintf(budget, sizeof budget, "median <= one label + %.0f MiB = %.1f MiB", ExtraMemoryMiB, memoryLimit);
    AddRow("Peak memory of the program's start (whole process, with what it does right after the first frame)",
           program.memory, "MiB", budget, program.memory.Median() <= memoryLimit);
    AddRow("Peak memory of the one-label window's start (whole process)", label.memory, "MiB", "-", -1);
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

void ClickRow(QTreeWidget *list, const char *title)
{
    QList<QTreeWidgetItem *> items = list->findItems(QString::fromLatin1(title), Qt::MatchExactly, 0);
    if (items.size() != 1)
        Fail(std::string("no row for ") + title);
    list->scrollToItem(items.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(items.first()).center());
}

void ClickHeader(QTreeWidget *list, int column)
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
    QTreeWidget *list = Control<QTreeWidget>(window, "ListViewScores");
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
        if (list->topLevelItemCount() != ChartCount)
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
    QWidget *warning = Control<QWidget>(window, "PanelWarning");
    int nextDpLost = 1400;
    Samples inserts = Time(InsertRuns, [&](int) {
        const QString value = QString::number(nextDpLost--);
        TypeInto(great, value);
        QCoreApplication::processEvents();
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(insert, Qt::LeftButton);
        double milliseconds = MillisecondsSince(start);
        if (warning->isVisible() || great->text() != value || list->currentItem()->text(0) != QLatin1String(InsertChart))
            Fail("the insert did not store the score and reselect the chart");
        QCoreApplication::processEvents();
        return milliseconds;
    });
    AddRow("Insert: commit, sort, refill, totals, synced atomic save, reselect", inserts, "ms", "median < 16 ms",
           inserts.Median() < 16.0);
}

}  // namespace

int main(int argc, char *argv[])
{
    ChartRecord pristine[ChartCount];
    std::memcpy(pristine, ChartTable, sizeof pristine);
    BenchSorts();

    // The window starts from a score file with most charts scored, as a player's would be.
    std::memcpy(ChartTable, pristine, sizeof pristine);
    ChartOrder order{};
    InitChartTable(&order);
    ScoreEveryChart();
    if (!SaveScoreFile())
        Fail("cannot write Scores.txt in the current directory");
    std::memcpy(ChartTable, pristine, sizeof pristine);

    BenchStart();
    {
        QApplication application(argc, argv);
        TBK_ControlMain::SetErrorPresenter([](const QString &message) { Fail(message.toStdString()); });
        BenchWindow();
    }
    return PrintTable() ? 0 : 1;
}
