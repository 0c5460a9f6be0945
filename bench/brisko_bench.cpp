// Times what the player waits on, through the real window and its widgets: a keystroke in an
// entry field, a header click, an Insert, and the start of the program against a bare toolkit
// window. Prints one Markdown table and exits with 1 when an operation misses its budget.
//
// Run by scripts/bench from an empty directory on the disk the player's score file would be
// on, since Insert saves "Scores.txt" there and waits for it to be synced.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFontDatabase>
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
constexpr int StartRuns = 21;  // each for the program and for the bare window
constexpr int WarmUpRuns = 20;
constexpr int WindowWidth = 763;
constexpr int WindowHeight = 350;
constexpr double MiB = 1024.0 * 1024.0;
constexpr double FirstFrameFactor = 1.3;
constexpr double ExtraMemoryMiB = 8.0;
constexpr const char *InsertChart = "MAXX UNLIMITED";  // 56 freezes: OK prefilled, no penalty

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
    std::printf("Release build, QT_QPA_PLATFORM=%s, %ld cores; times from steady_clock, memory from ru_maxrss.\n\n",
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(default)")).toLatin1().constData(),
                sysconf(_SC_NPROCESSORS_ONLN));
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

// Watches the whole application: a window covered by opaque panels gets no paint event of its
// own, only its children do.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(QWidget *window) : window_(window) { QCoreApplication::instance()->installEventFilter(this); }

    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == window_)
            painted = true;
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *window_;
};

// The windows whose start is timed: the program's, a bare QWidget of the same size, and the
// same bare QWidget holding a single label, the least a window that shows text must pay. A
// "warm-" kind loads the font database before the clock starts, which shows what the window
// itself costs once the toolkit's one-time font set-up is paid.
std::unique_ptr<QWidget> BuildStartWindow(const std::string &kind)
{
    if (kind == "program")
        return std::make_unique<TBK_ControlMain>();
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(WindowWidth, WindowHeight);
    if (kind == "label")
        new QLabel(QStringLiteral("Brisko"), window.get());
    return window;
}

// Child: builds one of those windows, shows it and returns once its first frame is painted and
// flushed. Prints the milliseconds from the start of the construction to that moment.
int FirstFrameChild(int argc, char **argv, std::string kind)
{
    QApplication application(argc, argv);
    if (kind.rfind("warm-", 0) == 0) {
        kind.erase(0, 5);
        (void)QFontDatabase::families();
    }
    const Clock::time_point start = Clock::now();
    std::unique_ptr<QWidget> window = BuildStartWindow(kind);
    PaintWatcher watcher(window.get());
    window->show();
    // The window and all its children are painted in one pass, which also flushes the frame,
    // before processEvents returns.
    while (!watcher.painted) {
        QCoreApplication::processEvents();
        if (MillisecondsSince(start) > 10000)
            Fail("no frame painted within 10 s");
    }
    std::printf("%.6f\n", MillisecondsSince(start));
    std::fflush(stdout);
    return 0;
}

struct ChildResult {
    double firstFrameMs;
    double peakMiB;
};

ChildResult RunFirstFrameChild(const char *kind)
{
    int output[2];
    if (pipe(output) != 0)
        Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    char self[] = "/proc/self/exe";
    char mode[] = "--first-frame";
    std::string kindText = kind;
    char *argv[] = {self, mode, kindText.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0)
        Fail("cannot start the first-frame child");
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    std::string text;
    char buffer[64];
    ssize_t got;
    while ((got = read(output[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(got));
    close(output[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
        Fail(std::string("the first-frame child for ") + kind + " failed");
    return {std::stod(text), double(usage.ru_maxrss) * 1024.0 / MiB};  // ru_maxrss is in KiB
}

void BenchStart()
{
    struct Reference {
        const char *kind;
        const char *operation;
        Samples frame;
    };
    Reference references[] = {
        {"bare", "Bare QWidget 763x350, construction to first painted frame", {}},
        {"label", "Bare QWidget 763x350 with one QLabel, construction to first painted frame", {}},
        {"warm-label", "The same with one QLabel, font database loaded before the clock", {}},
        {"warm-program", "The program's window, font database loaded before the clock", {}},
    };
    Samples programFrame, programMemory, bareMemory;
    RunFirstFrameChild("bare");  // the first start reads the libraries from disk for all
    RunFirstFrameChild("program");
    for (int run = 0; run < StartRuns; ++run) {
        ChildResult program = RunFirstFrameChild("program");
        programFrame.values.push_back(program.firstFrameMs);
        programMemory.values.push_back(program.peakMiB);
        for (Reference &reference : references) {
            ChildResult result = RunFirstFrameChild(reference.kind);
            reference.frame.values.push_back(result.firstFrameMs);
            if (&reference == &references[0])
                bareMemory.values.push_back(result.peakMiB);
        }
    }
    const double frameLimit = FirstFrameFactor * references[0].frame.Median();
    const double memoryLimit = bareMemory.Median() + ExtraMemoryMiB;
    char budget[96];
    std::snprintf(budget, sizeof budget, "median < 1.3 x bare = %.3f ms", frameLimit);
    AddRow("Window construction to first painted frame", programFrame, "ms", budget,
           programFrame.Median() < frameLimit);
    for (const Reference &reference : references)
        AddRow(reference.operation, reference.frame, "ms", "-", -1);
    std::snprintf(budget, sizeof budget, "99th pct < bare + 8 MiB = %.1f MiB", memoryLimit);
    AddRow("Peak memory of the program (whole process)", programMemory, "MiB", budget,
           programMemory.Percentile99() < memoryLimit);
    AddRow("Peak memory with a bare QWidget (whole process)", bareMemory, "MiB", "-", -1);
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
    if (argc == 3 && std::strcmp(argv[1], "--first-frame") == 0)
        return FirstFrameChild(argc, argv, argv[2]);

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
