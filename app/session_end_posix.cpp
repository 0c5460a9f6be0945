#include "session.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int signalWriteEnd = -1;  // a handler knows no session: only where its byte goes

// Only what is safe inside a handler: one byte into the pipe, which the event loop then reads.
void NoteEndingSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalWriteEnd, &byte, 1);
    errno = saved;
}

}  // namespace

// A signal that asks the program to end (the session's end without a session manager, a kill,
// Ctrl+C in the terminal) comes through a pipe to the event loop, where the session ends as a
// session's end without questions does. A failed write into a pipe whose reader went away, or
// past the file size limit, must fail and say so rather than end the window.
void TSession::EndOnSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (signalPipe_[0] >= 0 || pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalWriteEnd = signalPipe_[1];
    auto *notifier = new QSocketNotifier(signalPipe_[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(signalPipe_[0], bytes, sizeof bytes) > 0) {
        }
        EndWithoutQuestions();
    });
    struct sigaction action {};
    action.sa_handler = NoteEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int ending : {SIGTERM, SIGHUP, SIGINT})
        sigaction(ending, &action, nullptr);
}

// From now on a signal ends the program as it would without a session.
void TSession::StopEndingOnSignals()
{
    if (signalPipe_[0] < 0)
        return;
    for (int ending : {SIGTERM, SIGHUP, SIGINT})
        std::signal(ending, SIG_DFL);
    signalWriteEnd = -1;
    delete findChild<QSocketNotifier *>();
    close(signalPipe_[0]);
    close(signalPipe_[1]);
    signalPipe_[0] = signalPipe_[1] = -1;
}
