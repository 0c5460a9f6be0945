#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The program's command line, run as a player types it, without any display: help, version and
// mistakes answer before the toolkit starts, and a start without a display ends in one line.
class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");  // patterns for the whole of stdout and of stderr
        QTest::addColumn<QString>("err");
        const QString usage = QStringLiteral("^Usage: brisko-calculator \\[OPTION\\]\\.\\.\\.\\n.*\\n  -h, --help .*\\n      --version .*"
                                             "\\n  -platform NAME.*\\n  -display DISPLAY .*\\n  -style STYLE .*\\n$");
        const QString version = QStringLiteral("^brisko-calculator %1\\n$").arg(QRegularExpression::escape(BRISKO_VERSION));
        const QString unknown = QStringLiteral("^brisko-calculator: %1\\nTry 'brisko-calculator --help' for more information\\.\\n$");
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << "^$";
        QTest::newRow("-h after Qt's options") << QStringList{"-style", "windows", "-h"} << 0 << usage << "^$";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << "^$";
        QTest::newRow("--version after Qt's options in every form")
            << QStringList{"-platform", "offscreen", "--style=fusion", "-reverse", "--display", ":3", "--version"} << 0
            << version << "^$";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "^$" << unknown.arg("unknown option '--bogus'");
        QTest::newRow("unknown option after Qt's") << QStringList{"-style", "windows", "-x"} << 2 << "^$"
                                                   << unknown.arg("unknown option '-x'");
        QTest::newRow("a value for a switch of Qt's") << QStringList{"-reverse=yes"} << 2 << "^$"
                                                      << unknown.arg("unknown option '-reverse=yes'");
        QTest::newRow("Qt's option without its value") << QStringList{"-style"} << 2 << "^$"
                                                       << unknown.arg("a value is missing after '-style'");
        QTest::newRow("a file name") << QStringList{"friend.txt"} << 2 << "^$"
                                     << unknown.arg("unexpected argument 'friend\\.txt'");
        QTest::newRow("no display") << QStringList{} << 1 << "^$"
                                    << "^brisko-calculator: cannot open the window: could not connect to display\\n$";
        QTest::newRow("Wayland without its runtime folder")  // or without Qt's Wayland plugin
            << QStringList{"-platform", "wayland"} << 1 << "^$"
            << "^brisko-calculator: cannot open the window: (could not connect to Wayland display wayland-0 \\(XDG_RUNTIME_DIR "
               "is not set\\)|Could not find the Qt platform plugin \"wayland\" in \"\")\\n$";
        QTest::newRow("-- ends the options") << QStringList{"-style", "windows", "--"} << 1 << "^$"
                                             << "^brisko-calculator: cannot open the window: could not connect to display\\n$";
        QTest::newRow("an option after --") << QStringList{"--", "--help"} << 2 << "^$"
                                            << unknown.arg("unexpected argument '--help'");
#ifndef Q_OS_WIN
        const QString unwritten = QStringLiteral("^brisko-calculator: cannot write to the standard output: File too large\\n$");
        QTest::newRow("--help that cannot be written") << QStringList{"--help"} << 1 << "^$" << unwritten;
        QTest::newRow("--version that cannot be written") << QStringList{"--version"} << 1 << "^$" << unwritten;
#endif
    }

    void answersWithoutADisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR"})
            environment.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
#ifndef Q_OS_WIN
        if (QByteArray(QTest::currentDataTag()).contains("cannot be written")) {  // into a file that cannot grow
            program.setStandardOutputFile(dir.filePath(QStringLiteral("out")));
            program.setChildProcessModifier([] {
                const rlimit none = {0, 0};
                setrlimit(RLIMIT_FSIZE, &none);
                signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
            });
        }
#endif
        program.start(QStringLiteral(BRISKO_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(30000));
        // a Windows console program ends its lines with CR LF
        const QString stdoutText = QString::fromLocal8Bit(program.readAllStandardOutput().replace("\r\n", "\n"));
        const QString stderrText = QString::fromLocal8Bit(program.readAllStandardError().replace("\r\n", "\n"));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        const auto matches = [](const QString &pattern, const QString &text) {
            return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(text).hasMatch();
        };
        QVERIFY2(matches(out, stdoutText), qPrintable(stdoutText));
        QVERIFY2(matches(err, stderrText), qPrintable(stderrText));
        QCOMPARE(program.exitCode(), status);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
