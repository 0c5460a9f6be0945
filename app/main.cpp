#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include <QApplication>

#include "Bk_control_main.h"
#include "command_line.h"

namespace {

// Without a display Qt cannot start: it says so in several messages and then aborts. Its messages
// wait until it has started; should it fail, the one that tells why becomes the program's single
// line of error, and the program ends there instead of aborting.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> heldMessages;
QtMessageHandler toolkitMessageHandler = nullptr;

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
    std::fprintf(stderr, "brisko-calculator: cannot open the window: %s\n", qPrintable(reason.trimmed()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
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

int RunWindow()
{
    try {
        TBK_ControlMain BK_ControlMain;
        BK_ControlMain.show();
        QApplication::exec();
    } catch (const std::exception &error) {
        TBK_ControlMain::ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        TBK_ControlMain::ShowError(QString());
    }
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = CheckCommandLine(argc, argv))
        return *status;
    try {
        HoldToolkitMessages();
        QApplication application(argc, argv);
        ReleaseToolkitMessages();
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
