// One start of a window, for the benchmark to time from outside: "program" starts the program
// exactly as main.cpp does, "label" starts the reference, a window of the same size showing one
// label, with the same application set-up. Both live in this one executable so that they load
// the same libraries. Once the window's first frame is painted it prints the steady clock at
// that moment (the clock is the system's monotonic one, so the parent can subtract its own
// reading taken before the exec) and the milliseconds from the construction of the window.
//
// A "warm-" mode loads the font database before the window is built, which the first text of
// any window otherwise pays for; that separates what the window itself costs. For a profile:
//   valgrind --tool=callgrind --toggle-collect='*ShowFirstFrame*' brisko_first_frame warm-program
// It also collects what the window does right after its first frame (FinishStart), which
// callgrind_annotate --inclusive=yes lists on its own.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>

#include "Bk_control_main.h"

namespace {

using Clock = std::chrono::steady_clock;

// Watches the whole application: a window covered by opaque panels gets no paint event of its
// own, only its children do. The first paint event comes at the start of the pass that paints
// the whole window and flushes the frame; the call it posts runs once that pass is over, ahead
// of anything the window itself posts while painting.
class FrameWatcher : public QObject {
public:
    explicit FrameWatcher(QWidget *window) : window_(window) { QCoreApplication::instance()->installEventFilter(this); }

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
            }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *window_;
    bool seen_ = false;
};

std::unique_ptr<QWidget> BuildWindow(bool program)
{
    if (program)
        return std::make_unique<TBK_ControlMain>();
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(763, 350);
    new QLabel(QStringLiteral("Brisko Calculator"), window.get());
    return window;
}

// Builds and shows the window and returns the moment its first frame was painted and flushed.
// Not inlined, so that a profiler can collect this call alone.
[[gnu::noinline]] Clock::time_point ShowFirstFrame(std::unique_ptr<QWidget> &window, bool program)
{
    window = BuildWindow(program);
    FrameWatcher watcher(window.get());
    window->show();
    while (!watcher.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return watcher.paintedAt;
}

}  // namespace

int main(int argc, char *argv[])
{
    std::string mode = argc == 2 ? argv[1] : "";
    const bool warm = mode.rfind("warm-", 0) == 0;
    if (warm)
        mode.erase(0, 5);
    if (mode != "program" && mode != "label") {
        std::fprintf(stderr, "usage: brisko_first_frame [warm-]program|label\n");
        return 2;
    }
    alarm(10);  // a window that never paints ends the run instead of stalling it
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(TBK_ControlMain::ApplicationTitle()));
    QApplication::setDesktopFileName(QString::fromLatin1(BRISKO_APP_ID));
    TBK_ControlMain::SetFallbackFontFolder(QApplication::applicationDirPath() +
                                           QStringLiteral("/" BRISKO_FALLBACK_FONT_FOLDER));
    if (warm)
        (void)QFontDatabase::families();
    std::unique_ptr<QWidget> window;
    const Clock::time_point start = Clock::now();
    const Clock::time_point painted = ShowFirstFrame(window, mode == "program");
    std::printf("%lld %.6f\n", static_cast<long long>(std::chrono::nanoseconds(painted.time_since_epoch()).count()),
                std::chrono::duration<double, std::milli>(painted - start).count());
    // What the window leaves for after its first frame still counts towards the peak memory.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
