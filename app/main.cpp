#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <vector>

#include <QApplication>
#include <QWindow>

#include "Bk_control_main.h"
#include "command_line.h"
#include "main_system.h"
#include "session.h"

namespace {

// Without a display Qt cannot start: it says so in several messages and then aborts. Its messages
// wait until the window is made; should that fail, the one that tells why becomes the program's
// single line of error, and the program ends there instead of aborting. Qt may say them from
// threads of its own (the Wayland event thread), hence the lock.
class StartMessages {
public:
    StartMessages();
    ~StartMessages() { Release(); }
    StartMessages(const StartMessages &) = delete;
    StartMessages &operator=(const StartMessages &) = delete;

    void Release();
    [[noreturn]] void CannotOpenWindow(const QString &reason);

private:
    struct HeldMessage {
        QtMsgType type;
        QByteArray category;
        QString text;
    };
    static void Hold(QtMsgType type, const QMessageLogContext &context, const QString &text);
    QString ReasonOfFatal(const QString &text) const;

    static StartMessages *holding;  // the one a plain function handler reaches
    std::mutex mutex_;
    std::vector<HeldMessage> held_;
    QtMessageHandler toolkitHandler_ = nullptr;
    HeldStderr stderr_;
    bool released_ = false;
};

StartMessages *StartMessages::holding = nullptr;

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

StartMessages::StartMessages()
{
    stderr_.Hold();
    holding = this;
    toolkitHandler_ = qInstallMessageHandler(Hold);
}

void StartMessages::CannotOpenWindow(const QString &reason)
{
    stderr_.Release(false);
    std::fprintf(stderr, "brisko-calculator: cannot open the window: %s\n", qPrintable(reason.trimmed()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

QString StartMessages::ReasonOfFatal(const QString &text) const
{
    for (const HeldMessage &message : held_) {
        if (message.text.startsWith(QLatin1String("Failed to create wl_display")))
            return WaylandReason(message.text);
        if (message.category.startsWith("qt.qpa"))
            return message.text;
    }
    return text.section(u'\n', 0, 0);
}

void StartMessages::Hold(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    StartMessages &messages = *holding;
    const std::lock_guard<std::mutex> lock(messages.mutex_);
    if (messages.released_)  // said by a thread that found this handler just before it was replaced
        messages.toolkitHandler_(type, context, text);
    else if (type != QtFatalMsg)
        messages.held_.push_back({type, QByteArray(context.category), text});
    else
        messages.CannotOpenWindow(messages.ReasonOfFatal(text));
}

// The toolkit's own handler first, so that what another thread says from now on goes there.
// Called on the main thread only.
void StartMessages::Release()
{
    if (released_)
        return;
    qInstallMessageHandler(toolkitHandler_);
    const std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    stderr_.Release(true);
    for (const HeldMessage &message : held_)
        toolkitHandler_(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                        message.text);
    held_.clear();
}

// On Windows the toolkit starts without a display too (under wine without its X server), but
// then makes no window, and the program would wait for one that never comes.
bool WindowWasMade(const QWidget &window)
{
    return window.windowHandle() != nullptr && window.windowHandle()->handle() != nullptr;
}

int RunWindow(TSession &session, StartMessages &messages)
{
    try {
        TBK_ControlMain BK_ControlMain;
        session.EndOnSignals();
        BK_ControlMain.show();
        if (!WindowWasMade(BK_ControlMain))
            messages.CannotOpenWindow(QStringLiteral("could not connect to display"));
        messages.Release();
        const int status = QApplication::exec();
        return status != 0 ? status : session.EndStatus();
    } catch (const std::exception &error) {
        messages.Release();
        TBK_ControlMain::ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        messages.Release();
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
        StartMessages messages;
        QApplication application(argc, argv);
        QApplication::setApplicationName(QString::fromLatin1(TBK_ControlMain::ApplicationTitle()));
        QApplication::setDesktopFileName(QString::fromLatin1(BRISKO_APP_ID));
        TBK_ControlMain::SetFallbackFontFolder(QApplication::applicationDirPath() +
                                               QStringLiteral("/" BRISKO_FALLBACK_FONT_FOLDER));
        TSession session;  // outlives the window, and ends before the toolkit does
        return RunWindow(session, messages);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());  // no toolkit left to show it
    } catch (...) {
    }
    return 0;
}
