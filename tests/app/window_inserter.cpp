// Another window of the program, in a process of its own, for the tests of two windows on one
// score file and of how the program ends. It opens the real window in the folder it is given,
// ending on signals as the program does, and runs the event loop. For each line on its standard
// input it acts as a player would: "insert <greats> <title>" stores that play, "print" prints,
// "close" closes the window, whose question about unsaved scores then stays open until a signal
// ends the program, and "exit" ends it through exit() with the window open. It answers "ready" once the window is up, then one line a command: "ok" or
// the messages shown ("asking" for the open question). A second argument shortens the wait for
// the lock on the way out to that many milliseconds.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <QEventLoop>
#include <QFile>
#include <QTextStream>

#include "window_fixture.h"

namespace {

void Answer(const QString &text)
{
    QTextStream(stdout) << text << Qt::endl;
}

void Obey(WindowFixture &window, const QString &line)
{
    window.errors.clear();
    if (line.startsWith(QLatin1String("insert "))) {
        const QByteArray title = line.section(u' ', 2).toLatin1();
        window.InsertGreats(title.constData(), line.section(u' ', 1, 1));
    } else if (line == QLatin1String("print")) {
        window.Click("ButtonFilePrint");
    } else if (line == QLatin1String("exit")) {
        std::exit(EXIT_FAILURE);  // as the toolkit ends the program where the display's connection broke
    } else if (line == QLatin1String("close")) {
        TBK_ControlMain::SetUnsavedScoresQuestion([](int, int) {
            Answer(QStringLiteral("asking"));
            QEventLoop().exec();  // as the modal question would wait
            return TBK_ControlMain::UnsavedScoresAnswer::Cancel;
        });
        window.window().close();
    } else {
        QCoreApplication::quit();
        return;
    }
    QCoreApplication::processEvents();
    Answer(window.errors.isEmpty() ? QStringLiteral("ok") : window.errors.join(u'|'));
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc != 2 && argc != 3)
        return 2;
    WindowFixture window;
    if (argc == 3)
        window.session().endingLockWaitMs = std::atoi(argv[2]);
    if (!QDir::setCurrent(QString::fromLocal8Bit(argv[1])))  // the shared folder, not the fixture's own
        return 3;
    window.Open();
    window.session().EndOnSignals();
    QCoreApplication::processEvents();
    Answer(QStringLiteral("ready"));
    // Commands are read beside the event loop, which a signal must be able to reach at any time.
    // They are read from the descriptor, not through stdio: exit() flushes every stdio stream and
    // would wait for ever on the lock that a reader blocked in fgets holds (glibc 2.41 does).
    std::thread([&window] {
        QFile input;
        char line[256];
        const bool readable = input.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered);
        while (readable && input.readLine(line, sizeof line) > 0) {
            const QString command = QString::fromLatin1(line).trimmed();
            QMetaObject::invokeMethod(qApp, [&window, command] { Obey(window, command); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }).detach();
    const int status = QApplication::exec();
    std::fflush(stdout);
    QDir().rmdir(window.dir().path());  // the fixture's own folder, which _Exit would leave behind
    std::_Exit(status);  // the reader may still wait on its input
}
