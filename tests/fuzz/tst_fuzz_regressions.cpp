// Every input the fuzzer ever tripped over, and the seed corpus, through the same checks, so
// what was fixed stays fixed without a fuzzing toolchain.
#include <QtTest>

#include "chart_fixture.h"
#include "play_journal_check.h"
#include "score_file_round_trip.h"

class TestFuzzRegressions : public QObject {
    Q_OBJECT

    std::unique_ptr<TableFixture> fixture_;
    TableFixture &f() { return *fixture_; }

private slots:
    void init() { fixture_ = std::make_unique<TableFixture>(); }

    void cleanup() { fixture_.reset(); }

    void inputStaysFixed_data()
    {
        QTest::addColumn<QString>("path");
        int regressions = 0;
        for (const char *folder : {"regressions", "corpus", "journal_regressions", "journal_corpus"}) {
            QDir dir(QStringLiteral(BRISKO_FUZZ_DIR "/") + QString::fromLatin1(folder));
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(QString::fromLatin1(folder), name)))
                    << dir.filePath(name);
                regressions += QByteArray(folder) == "regressions";
            }
        }
        if (regressions == 0)
            qFatal("no regression inputs found under %s", BRISKO_FUZZ_DIR);
    }

    void inputStaysFixed()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto data = reinterpret_cast<const uint8_t *>(bytes.constData());
        ScoreFileRoundTrip roundTrip;
        const std::string failure = path.contains(QStringLiteral("/journal_"))
                                        ? CheckPlayJournal(data, size_t(bytes.size()))
                                        : roundTrip.Check(data, size_t(bytes.size()));
        QVERIFY2(failure.empty(), failure.c_str());
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzz_regressions.moc"
