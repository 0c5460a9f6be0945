#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#ifdef _WIN32
#include <windows.h>
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

[[noreturn]] void CannotOpenWindow(const QString &reason)
{
    std::fprintf(stderr, "brisko-calculator: cannot open the window: %s\n", qPrintable(reason.trimmed()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

void HoldStartMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.push_back({type, QByteArray(context.category), text});
        return;
    }
    QString reason = text.section(u'\n', 0, 0);
    for (const HeldMessage &message : heldMessages) {
        if (message.category.startsWith("qt.qpa")) {
            reason = message.text;
            break;
        }
    }
    CannotOpenWindow(reason);
}

void HoldToolkitMessages()
{
    toolkitMessageHandler = qInstallMessageHandler(HoldStartMessage);
}

void ReleaseToolkitMessages()
{
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
        QApplication::exec();
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
