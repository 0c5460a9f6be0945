// One start of a window, for the benchmark to measure from outside. "program" starts the program
// exactly as main.cpp does; "texts" starts the window it is budgeted against, which paints the
// program's first frame's texts, fonts and picture from one paintEvent (same_texts_window.h);
// "label" starts a window of the same size showing one label. All three have the same
// application set-up and live in this one executable, so that they load the same libraries.
// Once the window's first frame is painted it prints the steady clock at that moment (the
// system's monotonic clock, so the parent can subtract its own reading taken before the exec)
// and the milliseconds from the construction of the window.
//
//   brisko_first_frame [warm-]program|texts|label [--exit-at-first-frame | --stay | --ready]
//
// --exit-at-first-frame ends the process right there, printing nothing, for a count of the whole
// start:
//   valgrind --tool=callgrind brisko_first_frame texts --exit-at-first-frame
// Without it the process goes on for 200 ms, so that what the window leaves for after its first
// frame still counts towards its peak memory; with --ready it goes on for 3 s more, by when the
// program has built its comparison dialog while idle. --stay keeps the window open until it is closed,
// for a screenshot. A "warm-" mode loads the font database before the window is built, which the
// first text of any window otherwise pays for; that separates what the window itself costs:
//   valgrind --tool=callgrind --toggle-collect='*ShowFirstFrame*' brisko_first_frame warm-program
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>

#include "Bk_control_main.h"
#include "session.h"
#include "same_texts_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// Watches the whole application: a window covered by opaque panels gets no paint event of its
// own, only its children do. The first paint event comes at the start of the pass that paints
// the whole window and flushes the frame; the call it posts runs once that pass is over, ahead
// of anything the window itself posts while painting.
class FrameWatcher : public QObject {
public:
    FrameWatcher(QWidget *window, bool exitThere) : window_(window), exitThere_(exitThere)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool painted = false;
    Clock::time_point paintedAt;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_ && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == window_) {
            seen_ = true;
            QMetaObject::invokeMethod(this, [this] {
                paintedAt = Clock::now();
                painted = true;
                if (exitThere_)
                    std::_Exit(0);  // no destructors: the count ends with the frame
            }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *window_;
    bool exitThere_;
    bool seen_ = false;
};

std::unique_ptr<QWidget> BuildWindow(const std::string &mode)
{
    if (mode == "program")
        return std::make_unique<TBK_ControlMain>();
    if (mode == "texts")
        return std::make_unique<SameTextsWindow>();
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(763, 350);
    new QLabel(QStringLiteral("Brisko Calculator"), window.get());
    return window;
}

// Builds and shows the window and returns the moment its first frame was painted and flushed.
// Not inlined, so that a profiler can collect this call alone.
[[gnu::noinline]] Clock::time_point ShowFirstFrame(std::unique_ptr<QWidget> &window, const std::string &mode,
                                                   bool exitThere)
{
    window = BuildWindow(mode);
    FrameWatcher watcher(window.get(), exitThere);
    window->show();
    while (!watcher.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return watcher.paintedAt;
}

}  // namespace

int main(int argc, char *argv[])
{
    std::string mode = argc >= 2 ? argv[1] : "";
    const std::string option = argc == 3 ? argv[2] : "";
    const bool warm = mode.rfind("warm-", 0) == 0;
    if (warm)
        mode.erase(0, 5);
    if ((mode != "program" && mode != "texts" && mode != "label") || argc > 3 ||
        (argc == 3 && option != "--exit-at-first-frame" && option != "--stay" && option != "--ready")) {
        std::fprintf(stderr, "usage: brisko_first_frame [warm-]program|texts|label [--exit-at-first-frame|--stay|--ready]\n");
        return 2;
    }
    const bool stay = option == "--stay";
    // a window that never paints ends the run instead of stalling it, even under callgrind on a
    // busy machine
    if (!stay)
        alarm(600);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(TBK_ControlMain::ApplicationTitle()));
    QApplication::setDesktopFileName(QString::fromLatin1(BRISKO_APP_ID));
    TBK_ControlMain::SetFallbackFontFolder(QApplication::applicationDirPath() +
                                           QStringLiteral("/" BRISKO_FALLBACK_FONT_FOLDER));
    TSession session;
    if (warm)
        (void)QFontDatabase::families();
    std::unique_ptr<QWidget> window;
    const Clock::time_point start = Clock::now();
    const Clock::time_point painted = ShowFirstFrame(window, mode, option == "--exit-at-first-frame");
    std::printf("%lld %.6f\n", static_cast<long long>(std::chrono::nanoseconds(painted.time_since_epoch()).count()),
                std::chrono::duration<double, std::milli>(painted - start).count());
    if (std::fflush(stdout) != 0)
        return 1;
    if (stay)
        return QApplication::exec();
    // What the window leaves for after its first frame still counts towards the peak memory.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
    while (option == "--ready" && Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return 0;
}
