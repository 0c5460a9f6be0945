// Plays the real window as a player does, each interaction followed by its repaint, for the
// benchmark to measure from outside: under callgrind (started with --collect-atstart=no) it
// collects only the interactions and dumps one profile for each, named after it; without it
// it prints the median wall time of each.
//
//   brisko_play first          one session's first Compare and a later one, click to the
//                              dialog's first frame: "first-compare MS" and "later-compare MS"
//   brisko_play plays RUNS     that first Compare, then RUNS of every interaction: "NAME MS"
//
// Started in a folder holding the score file and "Rival.txt", a full score file to compare with.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>
#include <valgrind/callgrind.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "Bk_control_main.h"
#include "session.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const char *why)
{
    std::fprintf(stderr, "brisko_play: %s\n", why);
    std::_Exit(2);
}

template <typename Widget> Widget *Control(QWidget &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromLatin1(name));
    if (widget == nullptr)
        Fail(name);
    return widget;
}

// The interaction's own instructions: collection is off everywhere else.
void Collect(bool on)
{
    static bool collecting = false;
    if (collecting != on)
        CALLGRIND_TOGGLE_COLLECT;
    collecting = on;
}

// Clicks Compare and, at the dialog's first painted frame, ends the count and the clock and hands
// the open dialog to the next step (which closes it). Returns the milliseconds to that frame.
class CompareClick : public QObject {
public:
    double Play(QPushButton *compare, std::function<void(QFileDialog &)> next)
    {
        next_ = std::move(next);
        seen_ = false;
        QCoreApplication::instance()->installEventFilter(this);
        Collect(true);
        start_ = Clock::now();
        QTest::mouseClick(compare, Qt::LeftButton);
        QCoreApplication::processEvents();  // the main window's repaint as the dialog goes
        Collect(false);
        QCoreApplication::instance()->removeEventFilter(this);
        if (!seen_)
            Fail("the comparison dialog was never painted");
        return framedMs_;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = watched->isWidgetType() ? qobject_cast<QFileDialog *>(static_cast<QWidget *>(watched)->window())
                                               : nullptr;
        if (event->type() == QEvent::Paint && !seen_ && dialog != nullptr) {
            seen_ = true;
            QMetaObject::invokeMethod(this, [this, dialog] {
                framedMs_ = MillisecondsSince(start_);
                next_(*dialog);
            }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QFileDialog &)> next_;
    Clock::time_point start_;
    double framedMs_ = 0;
    bool seen_ = false;
};

void Cancel(QFileDialog &dialog)
{
    Collect(false);
    dialog.reject();
}

// Waits until the window is shown and has done what it leaves for after its first frame.
void Settle(TBK_ControlMain &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        Fail("the window was never shown");
    const Clock::time_point start = Clock::now();
    // the dialog is built a second after the first frame; callgrind runs some 50 times slower
    const double settleMs = RUNNING_ON_VALGRIND ? 30000 : 3000;
    while (MillisecondsSince(start) < settleMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Report(const char *name, const std::vector<double> &milliseconds)
{
    std::printf("%s %.4f\n", name, Median(milliseconds));
    CALLGRIND_DUMP_STATS_AT(name);
}

// Runs the step the given number of times, each followed by the repaint it causes.
void Repeat(const char *name, int runs, const std::function<void(int)> &step)
{
    std::vector<double> milliseconds;
    for (int run = 0; run < runs; ++run) {
        Collect(true);
        const Clock::time_point start = Clock::now();
        step(run);
        QCoreApplication::processEvents();
        milliseconds.push_back(MillisecondsSince(start));
        Collect(false);
        QCoreApplication::processEvents();  // anything left over is not the next run's
    }
    Report(name, milliseconds);
}

void Plays(TBK_ControlMain &window, int runs)
{
    QTreeView *list = Control<QTreeView>(window, "ListViewScores");
    QLineEdit *great = Control<QLineEdit>(window, "MemoGreat");
    QLineEdit *good = Control<QLineEdit>(window, "MemoGood");
    QPushButton *compare = Control<QPushButton>(window, "ButtonCompare");
    QHeaderView *header = list->header();
    CompareClick click;

    great->setFocus();
    great->setText(QStringLiteral("10"));
    good->setFocus();
    good->clear();
    Repeat("keystroke", runs, [&](int run) { QTest::keyClick(good, run % 2 == 0 ? Qt::Key_1 : Qt::Key_Backspace); });
    good->clear();
    Repeat("header-sort", runs, [&](int run) {
        const int column = run % 2 == 0 ? 3 : 5;
        const QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    });
    // under the DP order, each Insert a DP lost one lower on a chart of 56 freezes, so that the
    // chart moves up the list and no warning is due
    const int dpColumn = 4;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(dpColumn) + 5, header->height() / 2));
    const QModelIndexList rows = list->model()->match(list->model()->index(0, 0), Qt::DisplayRole,
                                                      QStringLiteral("MAXX UNLIMITED"), 1, Qt::MatchExactly);
    if (rows.isEmpty())
        Fail("no row for the Insert");
    list->scrollTo(rows.first());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(rows.first()).center());
    int dpLost = 1400;
    Repeat("insert", runs, [&](int) {
        Collect(false);
        great->setFocus();
        great->setText(QString::number(dpLost--));
        QCoreApplication::processEvents();
        Collect(true);
        QTest::mouseClick(Control<QPushButton>(window, "ButtonInsert"), Qt::LeftButton);
        if (great->text() != QString::number(dpLost + 1))
            Fail("the Insert did not keep the score");
    });
    Repeat("file-print", runs, [&](int) { QTest::mouseClick(Control<QPushButton>(window, "ButtonFilePrint"), Qt::LeftButton); });
    std::vector<double> later;
    for (int run = 0; run < runs; ++run) {
        later.push_back(click.Play(compare, Cancel));
        QTest::qWait(50);  // the window's repaint as the dialog goes is not the next click's
    }
    Report("later-compare", later);
    // the whole comparison: the dialog, the name typed, Enter, the rival's file read and shown
    const QString rival = QDir::current().absoluteFilePath(QStringLiteral("Rival.txt"));
    Repeat("full-compare", runs, [&](int) {
        click.Play(compare, [&](QFileDialog &dialog) {
            Collect(true);
            auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (name == nullptr)
                Fail("the dialog has no name field");
            name->setText(rival);
            QTest::keyClick(name, Qt::Key_Return);
        });
        Collect(true);
        if (!Control<QPushButton>(window, "ButtonCompareReset")->isEnabled())
            Fail("the comparison did not happen");
    });
}

}  // namespace

int main(int argc, char *argv[])
{
    const bool plays = argc == 3 && std::strcmp(argv[1], "plays") == 0;
    if (!plays && !(argc == 2 && std::strcmp(argv[1], "first") == 0)) {
        std::fprintf(stderr, "usage: brisko_play first | plays RUNS\n");
        return 2;
    }
    alarm(1200);
    // the file dialog keeps its last folder there, in this run's folder rather than the user's
    qputenv("XDG_CONFIG_HOME", QDir::currentPath().toLocal8Bit() + "/config");
    QApplication application(argc, argv);
    TSession session;
    TBK_ControlMain::SetErrorPresenter([](const QString &message) { Fail(message.toLocal8Bit().constData()); });
    {
        TBK_ControlMain window;
        Settle(window);
        CompareClick click;
        QPushButton *compare = Control<QPushButton>(window, "ButtonCompare");
        const double first = click.Play(compare, Cancel);
        CALLGRIND_DUMP_STATS_AT("first-compare");
        std::printf("first-compare %.4f\n", first);
        if (plays)
            Plays(window, std::atoi(argv[2]));
        else {
            QTest::qWait(50);
            std::printf("later-compare %.4f\n", click.Play(compare, Cancel));
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
