// Another window of the program, in a process of its own, for the tests of two windows on one
// score file. It opens the real window in the folder it is given and, for every line
// "insert <greats> <title>" on its standard input, stores that play as a player would. It
// answers "ready" once the window is up, then one line a command: "ok" or the messages shown.
#include <cstdio>

#include <QTextStream>

#include "window_fixture.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc != 2)
        return 2;
    WindowFixture window;
    if (!QDir::setCurrent(QString::fromLocal8Bit(argv[1])))  // the shared folder, not the fixture's own
        return 3;
    window.Open();
    QCoreApplication::processEvents();
    QTextStream in(stdin);
    QTextStream out(stdout);
    out << "ready" << Qt::endl;
    for (QString line = in.readLine(); line.startsWith(QLatin1String("insert ")); line = in.readLine()) {
        const QString greats = line.section(u' ', 1, 1);
        const QByteArray title = line.section(u' ', 2).toLatin1();
        window.errors.clear();
        window.InsertGreats(title.constData(), greats);
        QCoreApplication::processEvents();
        out << (window.errors.isEmpty() ? QStringLiteral("ok") : window.errors.join(u'|')) << Qt::endl;
    }
    return 0;
}
