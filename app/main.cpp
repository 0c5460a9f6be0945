#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QWindow>

#include "Bk_control_main.h"
#include "command_line.h"

namespace {

// Without a display Qt cannot start: it says so in several messages and then aborts. Its messages
// wait until the window is made; should that fail, the one that tells why becomes the program's
// single line of error, and the program ends there instead of aborting.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler toolkitMessageHandler = nullptr;

// The libraries under the toolkit may write to stderr themselves while it connects (libwayland
// that XDG_RUNTIME_DIR is not set, before Qt says anything): that is held in a file as well.
#ifndef _WIN32
int realStderr = -1;
int heldStderr = -1;
#endif

#ifndef _WIN32
// A file in memory: a start never depends on a writable /tmp, nor leaves anything there.
int HeldStderrFile()
{
#ifdef __linux__
    return memfd_create("brisko-held-stderr", MFD_CLOEXEC);
#else
    std::FILE *held = std::tmpfile();
    if (held == nullptr)
        return -1;
    const int fd = dup(fileno(held));
    std::fclose(held);
    return fd;
#endif
}
#endif

void HoldStderr()
{
#ifndef _WIN32
    heldStderr = HeldStderrFile();
    if (heldStderr < 0)
        return;
    std::fflush(stderr);
    realStderr = dup(STDERR_FILENO);
    if (realStderr < 0 || dup2(heldStderr, STDERR_FILENO) < 0) {
        close(heldStderr);
        close(realStderr);
        heldStderr = realStderr = -1;
    }
#endif
}

// Puts stderr back, and what was held in it there too when it is to be seen.
void ReleaseStderr(bool show)
{
#ifndef _WIN32
    if (realStderr < 0)
        return;
    std::fflush(stderr);
    dup2(realStderr, STDERR_FILENO);
    char buffer[4096];
    ssize_t got = 0;
    lseek(heldStderr, 0, SEEK_SET);
    while (show && (got = read(heldStderr, buffer, sizeof buffer)) > 0)
        (void)!write(STDERR_FILENO, buffer, size_t(got));
    close(heldStderr);
    close(realStderr);
    heldStderr = realStderr = -1;
#else
    (void)show;
#endif
}

[[noreturn]] void CannotOpenWindow(const QString &reason)
{
    ReleaseStderr(false);
    std::fprintf(stderr, "brisko-calculator: cannot open the window: %s\n", qPrintable(reason.trimmed()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

// Qt's Wayland plugin says only "Failed to create wl_display (No such file or directory)"; the
// line names the display it tried, and the missing runtime folder where that is the cause.
QString WaylandReason(const QString &text)
{
    const QString display = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    QString why = text.section(u'(', 1).section(u')', 0, 0);
    if (!display.startsWith(u'/') && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        why = QStringLiteral("XDG_RUNTIME_DIR is not set");
    return QStringLiteral("could not connect to Wayland display %1 (%2)").arg(display, why);
}

void HoldStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.push_back({type, QByteArray(context.category), text});
        return;
    }
    QString reason = text.section(u'\n', 0, 0);
    for (const HeldMessage &message : heldMessages) {
        if (message.text.startsWith(QLatin1String("Failed to create wl_display"))) {
            reason = WaylandReason(message.text);
            break;
        }
        if (message.category.startsWith("qt.qpa")) {
            reason = message.text;
            break;
        }
    }
    CannotOpenWindow(reason);
}

void HoldToolkitMessages()
{
    HoldStderr();
    toolkitMessageHandler = qInstallMessageHandler(HoldStartMessage);
}

void ReleaseToolkitMessages()
{
    ReleaseStderr(true);
    qInstallMessageHandler(toolkitMessageHandler);
    for (const HeldMessage &message : heldMessages)
        toolkitMessageHandler(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                              message.text);
    heldMessages.clear();
}

// A Windows program without a console window of its own writes nowhere unless its output is
// redirected. Started from a console, its help and its one line of error go to that console.
void UseParentConsole()
{
#ifdef _WIN32
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (GetStdHandle(STD_OUTPUT_HANDLE) == nullptr)
        std::freopen("CONOUT$", "w", stdout);
    if (GetStdHandle(STD_ERROR_HANDLE) == nullptr)
        std::freopen("CONOUT$", "w", stderr);
#endif
}

// On Windows the toolkit starts without a display too (under wine without its X server), but
// then makes no window, and the program would wait for one that never comes.
bool WindowWasMade(const QWidget &window)
{
    return window.windowHandle() != nullptr && window.windowHandle()->handle() != nullptr;
}

int RunWindow()
{
    try {
        TBK_ControlMain BK_ControlMain;
        BK_ControlMain.EndOnSignals();
        BK_ControlMain.show();
        if (!WindowWasMade(BK_ControlMain))
            CannotOpenWindow(QStringLiteral("could not connect to display"));
        ReleaseToolkitMessages();
        const int status = QApplication::exec();
        return status != 0 ? status : TBK_ControlMain::EndStatus();
    } catch (const std::exception &error) {
        ReleaseToolkitMessages();
        TBK_ControlMain::ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        ReleaseToolkitMessages();
        TBK_ControlMain::ShowError(QString());
    }
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    UseParentConsole();
    if (const std::optional<int> status = CheckCommandLine(argc, argv))
        return *status;
    try {
        HoldToolkitMessages();
        QApplication application(argc, argv);
        QApplication::setApplicationName(QString::fromLatin1(TBK_ControlMain::ApplicationTitle()));
        QApplication::setDesktopFileName(QString::fromLatin1(BRISKO_APP_ID));
        TBK_ControlMain::SetFallbackFontFolder(QApplication::applicationDirPath() +
                                               QStringLiteral("/" BRISKO_FALLBACK_FONT_FOLDER));
        return RunWindow();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());  // no toolkit left to show it
    } catch (...) {
    }
    return 0;
}
