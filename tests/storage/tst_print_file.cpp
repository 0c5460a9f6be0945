#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <atomic>
#include <thread>

#include <QElapsedTimer>

#include <QtTest>

#include "chart_fixture.h"
#include "chart_ordering.h"
#include "print_file.h"

class TestPrintFile : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

    QList<QByteArray> PrintedLines()
    {
        WritePrintFile(&f().order);
        const QByteArray text = ReadText(PrintFileName);
        if (ReadBytes(PrintFileName) != QByteArray(text).replace("\n", SystemLineEnd))
            return {};  // a line that does not end as text mode ends lines here
        QList<QByteArray> lines = text.split('\n');
        if (lines.isEmpty() || !lines.last().isEmpty())
            return {};
        lines.removeLast();
        return lines;
    }

    QByteArray PrintedLineOf(const char *name)
    {
        const QByteArray prefix = "|" + QByteArray(name).left(40);
        for (const QByteArray &line : PrintedLines())
            if (line.startsWith(prefix))
                return line;
        return {};
    }

private slots:
    void init() { fixture_ = std::make_unique<TableFixture>(); }

    void cleanup() { fixture_.reset(); }

    void exactLines_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<int>("dpLost");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow(".59 unscored") << QByteArray(".59") << -1
                                      << QByteArray("|.59                                     |38|  E| 550|00.00%|");
        QTest::newRow("ABSOLUTE unscored") << QByteArray("ABSOLUTE") << -1
                                           << QByteArray("|ABSOLUTE                                |43|  E| 622|00.00%|");
        QTest::newRow("ABSOLUTE 10 lost") << QByteArray("ABSOLUTE") << 10
                                          << QByteArray("|ABSOLUTE                                |43| AA|  10|98.39%|");
        QTest::newRow("ABSOLUTE perfect is one character longer") << QByteArray("ABSOLUTE") << 0
                                                                  << QByteArray("|ABSOLUTE                                |43|AAA|   0|100.00%|");
        QTest::newRow("MAXX UNLIMITED caps its allowance at 99") << QByteArray("MAXX UNLIMITED") << -1
                                                                 << QByteArray("|MAXX UNLIMITED                          |99|  E|1446|00.00%|");
        QTest::newRow("41-character title loses its last letter") << QByteArray("AFRONOVA (FROM NONSTOP MEGAMIX) Challenge") << -1
                                                                  << QByteArray("|AFRONOVA (FROM NONSTOP MEGAMIX) Challeng|53|  E| 764|00.00%|");
        QTest::newRow("40-character title fills the field") << QByteArray("Running Through The Lanterns On Tuesdays") << -1
                                                            << QByteArray("|Running Through The Lanterns On Tuesdays|70|  E|1012|00.00%|");
        QTest::newRow("loss above 9999 from a file widens the field, percentage 0")
            << QByteArray("ABSOLUTE") << 12345 << QByteArray("|ABSOLUTE                                |43|  E|12345|00.00%|");
    }

    void exactLines()
    {
        QFETCH(QByteArray, title);
        QFETCH(int, dpLost);
        QFETCH(QByteArray, line);
        if (dpLost >= 0)
            Score(Chart(title.constData()), uint16_t(dpLost));
        QCOMPARE(PrintedLineOf(title.constData()), line);
    }

    void everyChartOneLineInDisplayOrder()
    {
        SortCharts(&f().order, SortByDpLost, false);
        QList<QByteArray> lines = PrintedLines();
        QCOMPARE(lines.size(), ChartCount);
        for (int i = 0; i < ChartCount; ++i) {
            QVERIFY(lines[i].startsWith("|" + QByteArray(f().order[i]->name).left(40)));
            QCOMPARE(lines[i].size(), 61);
        }
    }

    void comparisonValuesNeverPrinted()
    {
        QByteArray before = (WritePrintFile(&f().order), ReadBytes(PrintFileName));
        for (ChartRecord &c : ChartTable)
            c.enemyDpLost = 3;
        WritePrintFile(&f().order);
        QCOMPARE(ReadBytes(PrintFileName), before);
    }

    void writingTwiceKeepsOnlyTheSecondListing()
    {
        WritePrintFile(&f().order);
        SortCharts(&f().order, SortByName, false);
        WritePrintFile(&f().order);
        QByteArray bytes = ReadText(PrintFileName);
        QCOMPARE(bytes.count('\n'), ChartCount);
        QVERIFY(bytes.startsWith("|YOZORA NO MUKO "));
        QCOMPARE(f().dir.entries(), QStringList({"OutPrint.txt"}));
    }

    // What is no regular file is written into, never replaced, and a listing that did not get
    // through says why. Every special file is made here, in the test's own folder.
    void specialFilesAreWrittenIntoOrReported_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("reason");  // empty: the listing got through
        QTest::newRow("named pipe with a reader") << QByteArray("fifo-read") << QByteArray();
        QTest::newRow("named pipe read slowly: a second for the whole listing")
            << QByteArray("fifo-slow") << QByteArray("The named pipe did not take it all within a second; ");
        QTest::newRow("named pipe nobody reads") << QByteArray("fifo") << QByteArray("No program reads from the named pipe");
        QTest::newRow("link to a device node") << QByteArray("device") << QByteArray();
        QTest::newRow("link to a stopped terminal: a second, then said")
            << QByteArray("stopped-terminal") << QByteArray("The device did not take it all within a second; ");
        QTest::newRow("directory") << QByteArray("dir") << QByteArray("Is a directory");
        QTest::newRow("old listing, nothing to write") << QByteArray("null-order") << QByteArray("-");
    }

    void specialFilesAreWrittenIntoOrReported()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, reason);
        [[maybe_unused]] int reader = -1;
        [[maybe_unused]] int terminal[2] = {-1, -1};
#ifndef _WIN32
        const auto closeTerminal = qScopeGuard([&terminal] {
            for (int end : terminal)
                if (end >= 0)
                    close(end);
        });
#endif
        std::atomic<bool> printed{false};
        std::thread slowReader;
        const auto joinReader = qScopeGuard([&] {
            printed = true;
            if (slowReader.joinable()) {
                slowReader.join();
                close(reader);
            }
        });
        if (kind == "dir") {
            QVERIFY(QDir().mkdir(PrintFileName));
        } else if (kind == "null-order") {
            QVERIFY(WriteBytes(PrintFileName, "old listing\n"));
        } else {
#ifdef _WIN32
            QSKIP("no named pipe or device takes a file's name on Windows");
#else
            if (kind.startsWith("fifo")) {
                QVERIFY(mkfifo(PrintFileName, 0600) == 0);
                if (kind != "fifo")
                    QVERIFY((reader = open(PrintFileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) >= 0);
                // a page at a time, each under a second, but the whole listing takes more
                if (kind == "fifo-slow" && fcntl(reader, F_SETPIPE_SZ, 4096) != 4096)
                    QSKIP("the pipe's buffer cannot be made a page here");
                if (kind == "fifo-slow")
                    slowReader = std::thread([reader, &printed] {
                        char page[4096];
                        for (int turn = 0; turn < 10 && !printed; ++turn) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(450));
                            if (read(reader, page, sizeof page) < 0 && errno != EAGAIN)
                                return;
                        }
                    });
            } else if (kind == "stopped-terminal") {
                // a character device of the test's own, as a printer that has stopped taking text
                char name[PATH_MAX];
                QVERIFY(openpty(&terminal[0], &terminal[1], name, nullptr, nullptr) == 0);
                QVERIFY(tcflow(terminal[1], TCOOFF) == 0);
                QVERIFY(symlink(name, PrintFileName) == 0);
            } else {
                if (geteuid() != 0)
                    QSKIP("making a device node takes root");
                QVERIFY(mknod("null-device", S_IFCHR | 0666, makedev(1, 3)) == 0);
                QVERIFY(symlink("null-device", PrintFileName) == 0);
            }
#endif
        }
        const QFileInfo before(QString::fromLatin1(PrintFileName));
#ifndef _WIN32
        struct stat beforeStat;
        QVERIFY(stat(PrintFileName, &beforeStat) == 0);
#endif

        SaveFailure failure;
        QElapsedTimer printing;
        printing.start();
#ifndef _WIN32
        alarm(10);  // a print that hangs ends the test instead of the suite's patience
#endif
        const bool wrote = WritePrintFile(kind == "null-order" ? nullptr : &f().order, &failure);
#ifndef _WIN32
        alarm(0);
#endif
        QVERIFY2(printing.elapsed() < (kind == "fifo-slow" ? 2000 : 3000), QByteArray::number(printing.elapsed()));
        QCOMPARE(wrote, reason.isEmpty());
        const int listingSize = ChartCount * 62;
        if (reason.endsWith(' ')) {  // what the device took before it stopped varies, never all
            const QRegularExpressionMatch counts =
                QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(reason) +
                                                                       "(\\d+) of (\\d+) bytes were written"))
                    .match(failure.reason);
            QVERIFY2(counts.hasMatch() && counts.captured(1).toInt() < listingSize && counts.captured(2).toInt() == listingSize,
                     failure.reason);
        } else if (reason != "-")
            QCOMPARE(QByteArray(failure.reason), reason);
#ifndef _WIN32
        if (kind == "fifo-read") {
            QByteArray listing(64 * 1024, 0);
            const ssize_t got = read(reader, listing.data(), listing.size());
            close(reader);
            QCOMPARE(got, ssize_t(listingSize));
        }
        struct stat afterStat;
        QVERIFY(stat(PrintFileName, &afterStat) == 0);
        QCOMPARE(afterStat.st_ino, beforeStat.st_ino);
        QCOMPARE(afterStat.st_mode, beforeStat.st_mode);
#endif
        const QFileInfo after(QString::fromLatin1(PrintFileName));
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.isSymLink(), before.isSymLink());
        if (kind == "null-order")
            QCOMPARE(ReadBytes(PrintFileName), QByteArray("old listing\n"));
    }
};

QTEST_GUILESS_MAIN(TestPrintFile)
#include "tst_print_file.moc"
