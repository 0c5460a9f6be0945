#include <cstdio>
#include <exception>

#include <QApplication>

#include "Bk_control_main.h"

namespace {

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
    try {
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
