// The recovery file: what the save on the way out leaves where Scores.txt and Plays.csv could not
// take it, and what the next window reads back from it.
#include <sys/stat.h>

#include <QtTest>

#include "chart_fixture.h"
#include "recovery_file.h"

namespace {

const QByteArray Play = "2026-12-09T19:32:05+00:00,ABSOLUTE,5,0,0,0,0,5,99.19,AA,622,0000-00-00,play\n";

QByteArray RecoveryText(const QByteArray &scores, const QByteArray &plays = {}, const QByteArray &end = "[End]\n")
{
    return QByteArray(RecoveryFileFirstLine) + "\nfor the player\n[Scores]\n" + scores + "[Plays]\n" + plays + end;
}

QString ScoreOf(const RecoveredScores &recovered, const char *title)
{
    const int i = int(&Chart(title) - ChartTable);
    if (!recovered.hasScore[i])
        return QStringLiteral("none");
    return QStringLiteral("%1 %2/%3/%4").arg(recovered.dpLost[i]).arg(recovered.day[i]).arg(recovered.month[i]).arg(recovered.year[i]);
}

}  // namespace

class TestRecoveryFile : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("more");  // a second file's text, read after it
        QTest::addColumn<QString>("absolute");  // what is taken for ABSOLUTE, "no file" when refused
        QTest::addColumn<int>("plays");
        const QByteArray ten = ScoreRecord("ABSOLUTE", "09/12/2026", 10);
        QTest::newRow("whole") << RecoveryText(ten, Play) << QByteArray() << "10 9/12/2026" << 1;
        QTest::newRow("written on Windows") << RecoveryText(ten, Play).replace("\n", "\r\n") << QByteArray() << "10 9/12/2026" << 1;
        QTest::newRow("a player's file under the name") << QByteArray("my notes\n" + ten) << QByteArray() << "no file" << 0;
        QTest::newRow("cut before its end: a window ended writing it")
            << RecoveryText(ten, Play, QByteArray()) << QByteArray() << "no file" << 0;
        QTest::newRow("cut inside a record") << RecoveryText(ten.left(20)) << QByteArray() << "no file" << 0;
        QTest::newRow("a record without its separator") << RecoveryText(QByteArray(ten).replace('-', '=')) << QByteArray()
                                                        << "no file" << 0;
        QTest::newRow("a chart this table lacks is passed over")
            << RecoveryText(ScoreRecord("NO SUCH SONG", "01/01/2026", 1) + ten) << QByteArray() << "10 9/12/2026" << 0;
        QTest::newRow("two files: fewer DP lost wins")
            << RecoveryText(ten) << RecoveryText(ScoreRecord("ABSOLUTE", "01/01/2020", 9), Play) << "9 1/1/2020" << 1;
        QTest::newRow("two files: the same loss, the later date")
            << RecoveryText(ScoreRecord("ABSOLUTE", "10/12/2026", 10)) << RecoveryText(ten) << "10 10/12/2026" << 0;
        QTest::newRow("two files: a loss past the chart's DP is all of it, the later date wins")
            << RecoveryText(ScoreRecord("ABSOLUTE", "10/12/2026", 622)) << RecoveryText(ScoreRecord("ABSOLUTE", "09/12/2026", 9999))
            << "622 10/12/2026" << 0;
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, more);
        QFETCH(QString, absolute);
        QFETCH(int, plays);
        TableFixture table;
        RecoveredScores recovered;
        const bool taken = ParseRecoveryText(text.constData(), size_t(text.size()), recovered);
        QCOMPARE(taken, absolute != QLatin1String("no file"));
        if (!more.isEmpty())
            QVERIFY(ParseRecoveryText(more.constData(), size_t(more.size()), recovered));
        QCOMPARE(ScoreOf(recovered, "ABSOLUTE"), taken ? absolute : QStringLiteral("none"));
        QCOMPARE(int(recovered.plays.size()), plays);
    }

    // Each window that cannot save writes a file of its own, never over another; the next
    // window reads every one, leaves a player's file under such a name alone, and removes them.
    void writtenAnewEachTimeAndTakenInWhole()
    {
        TableFixture table;
        bool unsaved[ChartCount] = {};
        ChartRecord &absolute = Chart("ABSOLUTE");
        unsaved[absolute.index] = true;
        Score(absolute, 10, 9, 12, 2026);
        PlayJournal journal;
        ParsePlayJournal(Play.constData(), size_t(Play.size()), journal);
        const PlayLine play = journal.lines.at(0);
        char path[PATH_MAX];
        SaveFailure failure;
#ifndef _WIN32
        const mode_t umaskBefore = umask(0777);  // the next window must still read it
#endif
        QVERIFY(WriteRecoveryFile(unsaved, {play}, path, &failure));
#ifndef _WIN32
        umask(umaskBefore);
        struct stat info;
        QVERIFY(stat("Scores-recovery-1.txt", &info) == 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
#endif
        QCOMPARE(QString::fromUtf8(path), QDir(table.dir.path()).canonicalPath() + QStringLiteral("/Scores-recovery-1.txt"));
        const QByteArray first = ReadBytes(QStringLiteral("Scores-recovery-1.txt"));
        Score(absolute, 7, 10, 12, 2026);
        QVERIFY(WriteRecoveryFile(unsaved, {}, path, &failure));
        QVERIFY(QString::fromUtf8(path).endsWith(QLatin1String("/Scores-recovery-2.txt")));
        QCOMPARE(ReadBytes(QStringLiteral("Scores-recovery-1.txt")), first);
        QVERIFY(WriteBytes(QStringLiteral("Scores-recovery-3.txt"), "my notes\n"));

        RecoveredScores recovered;
        QVERIFY(ReadRecoveryFiles(recovered));
        QCOMPARE(recovered.files, 2);
        QCOMPARE(ScoreOf(recovered, "ABSOLUTE"), QStringLiteral("7 10/12/2026"));
        QCOMPARE(int(recovered.plays.size()), 1);
        char line[MaxPlayLineSize];
        QCOMPARE(QByteArray(line, qsizetype(FormatPlayLine(recovered.plays[0], line))), Play);
        QVERIFY(RemoveRecoveryFiles(recovered, &failure));
        QVERIFY(RemoveRecoveryFiles(recovered, &failure));  // another window's took them first
        QCOMPARE(table.dir.entries(), QStringList({"Scores-recovery-3.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestRecoveryFile)
#include "tst_recovery_file.moc"
