// Scores.txt as other programs leave it: another window of the program in the same folder, an
// editor changing the file while the window is open, and files that are no score file at all.
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>

#include "non_score_files.h"
#include "window_fixture.h"

namespace {

// A second window of the program, in a process of its own, working in the given folder.
class OtherWindow {
public:
    explicit OtherWindow(const QString &folder)
    {
        process_.start(QStringLiteral(BRISKO_WINDOW_INSERTER), {folder});
        ready_ = process_.waitForStarted() && Answer() == QLatin1String("ready");
    }
    ~OtherWindow()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
    }

    bool Ready() const { return ready_; }

    QString InsertGreats(const char *title, int greats)
    {
        process_.write(QStringLiteral("insert %1 %2\n").arg(greats).arg(QLatin1String(title)).toLatin1());
        return Answer();
    }

private:
    QString Answer()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000))
                return QStringLiteral("<no answer>");
        return QString::fromLatin1(process_.readLine()).trimmed();
    }

    QProcess process_;
    bool ready_ = false;
};

// The DP line of a chart's record in a written score file, or -1 when the file has no record.
int StoredDp(const QByteArray &file, const char *title)
{
    const QByteArrayList lines = file.split('\n');
    for (qsizetype i = 0; i + 2 < lines.size(); i += 4)
        if (lines[i] == title)
            return lines[i + 2].toInt();
    return -1;
}

}  // namespace

class TestWindowSharedFile : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    QString ShownDp(const char *title) { return f().RowTexts(f().RowOf(title)).at(4); }

private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void twoWindowsInsertingInTurnKeepEveryScore()
    {
        f().Open();
        OtherWindow other(f().dir().path());
        QVERIFY(other.Ready());

        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QCOMPARE(other.InsertGreats("1998", 5), QStringLiteral("ok"));
        f().InsertGreats(".59", QStringLiteral("3"));
        QCOMPARE(other.InsertGreats("5.1.1.", 0), QStringLiteral("ok"));

        const QByteArray file = ReadBytes(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 10);
        QCOMPARE(StoredDp(file, "1998"), 5);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);
        QCOMPARE(ShownDp("1998"), QStringLiteral("5"));  // read back on this window's last insert
        QVERIFY(f().errors.isEmpty());
        QCOMPARE(f().dir().entries(), QStringList({"Scores.txt"}));
    }

    void editsFromOutsideAreKeptAndShown()
    {
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("ABSOLUTE", "01/02/2006", 20)));
        f().Open();

        // an editor lowers ABSOLUTE and adds 1998 while the window shows ABSOLUTE at 20
        const QByteArray edited = ScoreRecord("ABSOLUTE", "01/02/2006", 5) + ScoreRecord("1998", "03/04/2006", 7);
        QVERIFY(WriteBytes(ScoreFileName, edited));
        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QVERIFY(f().Find<QWidget>("PanelInsert")->isHidden());  // 10 is worse than the 5 now stored
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("5"));
        QCOMPARE(ShownDp("1998"), QStringLiteral("7"));
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("10"));
        f().Click("ButtonWarningNO");
        QCOMPARE(ReadBytes(ScoreFileName), edited);

        f().InsertGreats("5.1.1.", QStringLiteral("0"));
        QByteArray file = ReadBytes(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 5);
        QCOMPARE(StoredDp(file, "1998"), 7);
        QCOMPARE(StoredDp(file, "5.1.1."), 0);

        // a record the editor removes is gone from the window as well
        QVERIFY(WriteBytes(ScoreFileName, ScoreRecord("5.1.1.", "05/06/2006", 0)));
        f().InsertGreats(".59", QStringLiteral("3"));
        file = ReadBytes(ScoreFileName);
        QCOMPARE(StoredDp(file, "ABSOLUTE"), 622);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("N/A"));

        // a file deleted while the window is open is written again, every score in it
        QVERIFY(QFile::remove(ScoreFileName));
        f().InsertGreats("1998", QStringLiteral("1"));
        file = ReadBytes(ScoreFileName);
        QCOMPARE(StoredDp(file, ".59"), 3);
        QCOMPARE(StoredDp(file, "1998"), 1);
        QVERIFY(f().errors.isEmpty());
    }

    void fileThatIsNoScoreFileIsToldAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("named pipe without a writer") << QByteArray("fifo") << QStringLiteral("Is a named pipe");
        QTest::newRow("link to an endless device") << QByteArray("zero") << QStringLiteral("Is a device");
        QTest::newRow("sparse gigabyte")
            << QByteArray("huge") << QStringLiteral("Is 1073741824 bytes long, far more than any score file");
    }

    void fileThatIsNoScoreFileIsToldAndLeftAlone()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QString, reason);
        QVERIFY(MakeNonScoreFile(kind, ScoreFileName));
        struct stat before;
        QVERIFY(stat(ScoreFileName, &before) == 0);

        QElapsedTimer started;
        started.start();
        f().Open();
        QVERIFY2(started.elapsed() < 3000, QByteArray::number(started.elapsed()));
        QTRY_COMPARE(f().errors, QStringList({QStringLiteral("Scores.txt was not read: %1. The window starts without "
                                                             "scores and leaves that file as it is.").arg(reason)}));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: E:256   "));

        f().InsertGreats("ABSOLUTE", QStringLiteral("10"));
        QCOMPARE(f().errors.value(1), QStringLiteral("Scores.txt could not be saved: %1.").arg(reason));
        QCOMPARE(ShownDp("ABSOLUTE"), QStringLiteral("10"));

        // nor is it read for a comparison, which ends at once and silently
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QString::fromLatin1(ScoreFileName);
            return true;
        });
        started.restart();
        f().Click("ButtonCompare");
        QVERIFY(started.elapsed() < 3000);
        QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());
        QCOMPARE(f().errors.size(), 2);

        struct stat after;
        QVERIFY(stat(ScoreFileName, &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"Scores.txt"}));
    }
};

QTEST_MAIN(TestWindowSharedFile)
#include "tst_window_shared_file.moc"
