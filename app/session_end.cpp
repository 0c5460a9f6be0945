#include "Bk_control_main.h"

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstdlib>
#include <iterator>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QSocketNotifier>

#include "score_file.h"
#include "score_file_lock.h"
#include "window_parts.h"

namespace {

TBK_ControlMain *endingWindow = nullptr;  // cleared as its destructor starts
int endingLockWaitMs = EndingLockWaitMs;
int endStatus = 0;

#ifndef _WIN32
int signalPipe[2] = {-1, -1};

// Only what is safe inside a handler: one byte into the pipe, which the event loop then reads.
void NoteEndingSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = saved;
}
#endif

}  // namespace

// A signal that asks the program to end (the session's end without a session manager, a kill,
// Ctrl+C in the terminal) comes through a pipe to the event loop, where the window ends as a
// session's end without questions does. A failed write into a pipe whose reader went away, or
// past the file size limit, must fail and say so rather than end the window.
void TBK_ControlMain::EndOnSignals()
{
    endingWindow = this;
    // Qt 6.4 ends the program with exit() when the display's connection breaks, inside its event
    // loop with the window still alive: what is missing from Scores.txt is saved on the way out.
    static const bool registered = std::atexit(SaveBeforeExit) == 0;
    (void)registered;
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, Guarded([this] {
                char bytes[16];
                while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
                }
                EndWithoutQuestions();
            }));
    struct sigaction action {};
    action.sa_handler = NoteEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int ending : {SIGTERM, SIGHUP, SIGINT})
        sigaction(ending, &action, nullptr);
#endif
}

// As the window starts to be destroyed: no save on the way out may reach it from now on, and a
// signal ends the program as it would without it.
void TBK_ControlMain::StopEndingOnSignals()
{
    if (endingWindow != this)
        return;
    endingWindow = nullptr;
#ifndef _WIN32
    for (int ending : {SIGTERM, SIGHUP, SIGINT})
        std::signal(ending, SIG_DFL);
#endif
}

void TBK_ControlMain::SetEndingLockWait(int milliseconds)
{
    endingLockWaitMs = milliseconds;
}

int TBK_ControlMain::EndingLockWait()
{
    return endingLockWaitMs;
}

int TBK_ControlMain::EndStatus()
{
    return endStatus;
}

// Also while the close question is open: exit ends every event loop, the question's included.
// What is not saved by then is in a recovery file, or standard error has said it is lost.
void TBK_ControlMain::EndWithoutQuestions()
{
    MayClose(false);
    std::fill(std::begin(unsavedScore), std::end(unsavedScore), false);
    unsavedPlays.clear();
    QCoreApplication::exit(endStatus);
}

// Runs inside exit(), where no widget may be touched any more.
void TBK_ControlMain::SaveBeforeExit()
{
    if (endingWindow != nullptr)
        endingWindow->SaveOnTheWayOut();
}

// The save of a window that ends without asking: under the lock, waited for as long as the end
// of a session allows, since another window may be saving at the same logout; what still
// cannot be saved goes into a recovery file. No widget is touched: this also runs inside exit().
bool TBK_ControlMain::SaveOnTheWayOut()
{
    if (UnsavedScoreCount() == 0 && UnsavedPlayCount() == 0)
        return true;
    const ScoreFileLock lock(endingLockWaitMs);
    MergeOwnFile();
    const QString failure = UnsavedScoreCount() != 0 ? SaveOwnScoreFile(lock) : QString();
    AppendPlays(lock, nullptr, nullptr);
    if (UnsavedScoreCount() == 0 && UnsavedPlayCount() == 0)
        return true;
    QString why = failure;
    if (why.isEmpty())
        why = QStringLiteral("%1 could not be written").arg(QString::fromLatin1(PlayJournalName)) +
              (lock.Refusal() != nullptr ? QStringLiteral(": ") + QString::fromUtf8(lock.Refusal()) : QString());
    KeepInRecoveryFile(why);
    endStatus = EXIT_FAILURE;
    return false;
}
