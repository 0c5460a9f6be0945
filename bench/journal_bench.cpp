#include "journal_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "Bk_control_main.h"
#include "play_journal.h"

// Every sync storage makes, counted on its way to the system: the budget is in syncs.
namespace {
long syncCount = 0;
}
extern "C" int fsync(int fd)
{
    ++syncCount;
    return int(syscall(SYS_fsync, fd));
}
extern "C" int fdatasync(int fd)
{
    ++syncCount;
    return int(syscall(SYS_fdatasync, fd));
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int InsertRuns = 50;
constexpr int HistoryWindows = 7;  // a first history is a window's first
constexpr long JournalLines = 100000;

double Milliseconds(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Row {
    std::string operation;
    double value;
    const char *unit;
    std::string budget;
    bool within;
};
std::vector<Row> Rows;

void AddRow(const char *operation, double value, const char *unit, const char *budget, bool within)
{
    Rows.push_back({operation, value, unit, budget, within});
}

template <typename Widget> Widget *Control(QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (widget == nullptr) {
        std::fprintf(stderr, "bench: no control named %s\n", name);
        std::exit(2);
    }
    return widget;
}

// A window never exposed would time a window that paints nothing.
void Show(TBK_ControlMain &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "bench: the window was never shown\n");
        std::exit(2);
    }
}

struct InsertCost {
    double cpu;
    double wall;
    double syncs;
};

// Inserts on one chart, a DP lost one lower each time so that no warning is due.
InsertCost Inserts(TBK_ControlMain &window, int &nextDpLost)
{
    QLineEdit *great = Control<QLineEdit>(window, "MemoGreat");
    QPushButton *insert = Control<QPushButton>(window, "ButtonInsert");
    std::vector<double> cpu, wall;
    const long syncsBefore = syncCount;
    for (int run = 0; run < InsertRuns; ++run) {
        great->setText(QString::number(nextDpLost--));
        QCoreApplication::processEvents();
        const double cpuStart = CpuMilliseconds();
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(insert, Qt::LeftButton);
        wall.push_back(Milliseconds(start));
        cpu.push_back(CpuMilliseconds() - cpuStart);
        if (great->text() != QString::number(nextDpLost + 1)) {
            std::fprintf(stderr, "bench: the Insert did not store\n");
            std::exit(2);
        }
        QCoreApplication::processEvents();
    }
    return {Median(cpu), Median(wall), double(syncCount - syncsBefore) / InsertRuns};
}

void BenchInsertAppend()
{
    QFile::remove(QString::fromLatin1("Scores.txt"));  // no stored score: no warning is due
    QDir().rmdir(QString::fromLatin1(PlayJournalName));
    QFile::remove(QString::fromLatin1(PlayJournalName));
    QDir().mkdir(QString::fromLatin1(PlayJournalName));  // refused unopened: today's Insert
    TBK_ControlMain window;
    Show(window);
    int nextDpLost = 549;  // ".59", the list's first chart, has 550 DP
    Inserts(window, nextDpLost);  // warm up, and the refusal said once
    const InsertCost refused = Inserts(window, nextDpLost);
    QDir().rmdir(QString::fromLatin1(PlayJournalName));
    Inserts(window, nextDpLost);  // the kept lines written, and the file made
    const InsertCost appending = Inserts(window, nextDpLost);
    char operation[200];
    std::snprintf(operation, sizeof operation, "Insert with its journal line, CPU (%.3f ms with Plays.csv refused)",
                  refused.cpu);
    AddRow(operation, appending.cpu, "ms", "< 1.2x the refused one's", appending.cpu < 1.2 * refused.cpu);
    std::snprintf(operation, sizeof operation, "Insert with its journal line, wall (%.3f ms refused)", refused.wall);
    AddRow(operation, appending.wall, "ms", "(reference)", true);
    std::snprintf(operation, sizeof operation, "Insert with its journal line, syncs (%.0f refused)", refused.syncs);
    AddRow(operation, appending.syncs, "", "at most one more", appending.syncs <= refused.syncs + 1);
}

void MakeJournal()
{
    std::string text = PlayJournalHeader();
    text.reserve(size_t(JournalLines) * 80);
    for (long i = 0; i < JournalLines; ++i) {
        PlayLine line;
        std::snprintf(line.time, sizeof line.time, "20%02ld-%02ld-%02ldT%02ld:%02ld:%02ld+01:00", 10 + i / 20000,
                      1 + i / 1700 % 12, 1 + i / 60 % 28, i / 3600 % 24, i / 60 % 60, i % 60);
        line.chart = uint16_t(i * 97 % ChartCount);
        line.hasCounts = true;
        line.counts[0] = int32_t(i % 500);
        line.dpLost = uint16_t(i % 400);
        line.percent = uint16_t(9000 + i % 1001);
        std::strcpy(line.rank, "AA");
        line.replacedYear = 2005;
        line.replacedMonth = 9;
        line.replacedDay = 6;
        char out[MaxPlayLineSize];
        text.append(out, FormatPlayLine(line, out));
    }
    QFile::remove(QString::fromLatin1(PlayJournalName));
    QFile file(QString::fromLatin1(PlayJournalName));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) != qint64(text.size()))
        std::fprintf(stderr, "bench: the journal could not be made\n");
}

QDialog *VisibleDialog(QWidget &window)
{
    for (QDialog *dialog : window.findChildren<QDialog *>())
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

// Ctrl+H on the list, timed until the dialog has painted its first frame.
double History(TBK_ControlMain &window, double &cpu)
{
    QTreeView *list = Control<QTreeView>(window, "ListViewScores");
    list->setFocus();
    const double cpuStart = CpuMilliseconds();
    const Clock::time_point start = Clock::now();
    QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
    QDialog *dialog = VisibleDialog(window);
    if (dialog == nullptr || !QTest::qWaitForWindowExposed(dialog))
        return -1;
    QCoreApplication::processEvents();  // its first paint
    const double wall = Milliseconds(start);
    cpu = CpuMilliseconds() - cpuStart;
    dialog->reject();
    QCoreApplication::processEvents();
    return wall;
}

void BenchHistory()
{
    MakeJournal();
    std::vector<double> readCpu, firstWall, firstCpu, secondWall;
    for (int run = 0; run < HistoryWindows; ++run) {
        PlayJournal journal;
        PlayJournalStatus status;
        const double start = CpuMilliseconds();
        ReadPlayJournal(journal, status);
        readCpu.push_back(CpuMilliseconds() - start);
    }
    for (int run = 0; run < HistoryWindows; ++run) {
        TBK_ControlMain window;
        Show(window);
        double cpu = 0;
        firstWall.push_back(History(window, cpu));
        firstCpu.push_back(cpu);
        secondWall.push_back(History(window, cpu));
    }
    const double read = Median(readCpu);
    char operation[200];
    std::snprintf(operation, sizeof operation, "A chart's history from %ld journal lines, first, to its first frame",
                  JournalLines);
    AddRow(operation, Median(firstWall), "ms", "< 100 ms", Median(firstWall) < 100 && Median(firstWall) >= 0);
    std::snprintf(operation, sizeof operation, "The same, CPU (one ReadPlayJournal of the file: %.3f ms)", read);
    AddRow(operation, Median(firstCpu), "ms", "< 2x the read", Median(firstCpu) < 2 * read);
    AddRow("A second history of the same window", Median(secondWall), "ms", "< 16.7 ms",
           Median(secondWall) < 16.7 && Median(secondWall) >= 0);
}

}  // namespace

bool BenchJournal()
{
    // Only the refused journal's reason is due, once.
    TBK_ControlMain::SetErrorPresenter([](const QString &message) {
        std::fprintf(stderr, "bench: the window said: %s\n", message.toUtf8().constData());
    });
    BenchInsertAppend();
    BenchHistory();
    QFile::remove(QString::fromLatin1(PlayJournalName));
    bool allWithin = true;
    std::printf("\nThe play journal (medians; Insert of %d runs each, history of %d windows):\n\n", InsertRuns,
                HistoryWindows);
    std::printf("| Operation | Median | Budget | Within budget |\n|---|---:|---|---|\n");
    for (const Row &row : Rows) {
        allWithin = allWithin && row.within;
        std::printf("| %s | %.3f %s | %s | %s |\n", row.operation.c_str(), row.value, row.unit, row.budget.c_str(),
                    row.within ? "yes" : "no");
    }
    return allWithin;
}
