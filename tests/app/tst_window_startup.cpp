#include <QFileDialog>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionButton>

#include "recovery_file.h"
#include "window_fixture.h"

class TestWindowStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void startWithoutScoreFile()
    {
        const QFont applicationFont = QApplication::font();
        f().Open();
        QCOMPARE(QApplication::font(), applicationFont);  // dialogs and message boxes keep theirs
        QCOMPARE(f().Field("MemoGreat")->font(), f().window().font());
        QCOMPARE(f().RowCount(), 256);
        QStringList expected;
        for (const ChartRecord &chart : ChartTable)
            expected << QString::fromLatin1(chart.name);
        QCOMPARE(f().Titles(), expected);
        QCOMPARE(f().RowTexts(0), QStringList({".59", "00/00/00", "38", "E", "N/A", "00.00"}));
        QCOMPARE(f().SelectedTitle(), QStringLiteral(".59"));
        QCOMPARE(f().CurrentTitle(), QStringLiteral(".59"));
        QCOMPARE(f().FocusWidget(), f().List());

        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("550"));
        QCOMPARE(f().Field("MemoOK")->text(), QStringLiteral("0"));
        QCOMPARE(f().Field("MemoGood")->text(), QString());
        QCOMPARE(f().LabelText("LabelDPFreeze"), QStringLiteral("550 / 0"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("550"));
        QCOMPARE(f().LabelText("LabelRankResult"), QStringLiteral("E"));
        QCOMPARE(f().LabelText("LabelPercResult"), QStringLiteral("0.00%"));

        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: E:256   "));
        QCOMPARE(f().LabelText("LabelTotalDP"), QStringLiteral("Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )"));
        QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());
        QVERIFY(f().errors.isEmpty());
    }

    void startWithScoreFile()
    {
        QByteArray file = "ABSOLUTE\r\n06/09/2005\r\n10\r\n----------\r\n"
                          "absolute\r\n01/01/2006\r\n0\r\n----------\r\n"  // another letter case: skipped
                          ".59\r\n07/10/2005\r\n20\r\n----------\r\n";
        QVERIFY(WriteBytes("Scores.txt", file));
        f().Open();
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")), QStringList({"ABSOLUTE", "06/09/2005", "43", "AA", "10", "98.39"}));
        QCOMPARE(f().RowTexts(0), QStringList({".59", "07/10/2005", "38", "AA", "20", "96.36"}));
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("20"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("20"));
        QCOMPARE(f().LabelText("LabelPercResult"), QStringLiteral("96.36%"));
        QCOMPARE(f().LabelText("LabelTotalRanks"), QStringLiteral("Rank: AA:2   E:254   "));
        QCOMPARE(ReadBytes("Scores.txt"), file);  // reading never rewrites
    }

    void closingLeavesTheDirectoryAsItWas()
    {
        f().Open();
        QTest::keyClick(f().List(), Qt::Key_Down);
        f().Close();
        QVERIFY(f().dir().entries().isEmpty());

        QVERIFY(WriteBytes("Scores.txt", "ABSOLUTE\n06/09/2005\n10\n----------\n"));
        f().Open();
        f().window().close();
        f().Close();
        QCOMPARE(f().dir().entries(), QStringList({"Scores.txt"}));
        QCOMPARE(ReadBytes("Scores.txt"), QByteArray("ABSOLUTE\n06/09/2005\n10\n----------\n"));
    }

    // A window that could not save on its way out left a recovery file: the next window takes it
    // in, the better score winning, but only together with a save, so that its plays never come
    // twice.
    void recoveryFileIsTakenInWithASave()
    {
        const QByteArray recovery = QByteArray(RecoveryFileFirstLine) + "\nfor you\n[Scores]\n" +
                                    ScoreRecord("ABSOLUTE", "09/12/2026", 5) + ScoreRecord(".59", "09/12/2026", 3) +
                                    "[Plays]\n2026-12-09T19:32:05+00:00,.59,3,0,0,0,0,3,99.45,AA,550,0000-00-00,play\n[End]\n";
        QVERIFY(WriteBytes("Scores-recovery-2.txt", recovery));
        QVERIFY(QDir().mkdir("Scores.txt"));  // refused: nothing can be saved
        f().Open();
        QTRY_COMPARE(f().errors.size(), 2);
        QCOMPARE(f().errors.at(1), QDir(f().dir().path()).canonicalPath() +
                                       "/Scores-recovery-2.txt holds scores and plays of a window that could not save them; it "
                                       "stays until they are in their own files: Scores.txt could not be saved: Is a directory.");
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("5"));  // waiting in the window too
        f().Close();
        QCOMPARE(f().dir().entries(), QStringList({"Scores-recovery-2.txt", "Scores.txt"}));
        QCOMPARE(ReadBytes("Scores-recovery-2.txt"), recovery);

        QVERIFY(QDir().rmdir("Scores.txt") && WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "01/01/2026", 2)));
        f().errors.clear();
        f().Open();
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QStringLiteral("2"));
        QCOMPARE(f().RowTexts(f().RowOf(".59")).at(4), QStringLiteral("3"));
        QCOMPARE(f().dir().entries(), QStringList({"Plays.csv", "Scores.txt"}));
        QCOMPARE(WindowFixture::JournalRows().size(), 2);  // the header and the one play
        QVERIFY(f().errors.isEmpty());
    }

    void windowFrame()
    {
        TBK_ControlMain &window = f().Open();
        QCOMPARE(window.windowTitle(), QStringLiteral("Brisko Calculator - ver. 1.1.00  (by Wren)"));
        QCOMPARE(window.size(), QSize(763, 350));
        QCOMPARE(window.minimumSize(), QSize(763, 350));
        QCOMPARE(window.maximumSize(), QSize(763, 350));
        QCOMPARE(window.palette().color(QPalette::Window), QColor(0, 128, 0));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.objectName(), QStringLiteral("BK_ControlMain"));
        QCOMPARE(window.font().pixelSize(), 11);
    }

    void controlGeometry_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::newRow("PanelWarning") << QByteArray("PanelWarning") << QRect(0, 0, 763, 350) << QString();
        QTest::newRow("PanelInsert") << QByteArray("PanelInsert") << QRect(0, 0, 763, 350) << QString();
        QTest::newRow("ButtonWarningOK") << QByteArray("ButtonWarningOK") << QRect(259, 195, 75, 25) << QStringLiteral("O&K");
        QTest::newRow("ButtonWarningNO") << QByteArray("ButtonWarningNO") << QRect(418, 195, 75, 25) << QStringLiteral("&Cancel");
        QTest::newRow("ImageBrisko") << QByteArray("ImageBrisko") << QRect(8, 8, 165, 338) << QString();
        QTest::newRow("MemoGreat") << QByteArray("MemoGreat") << QRect(250, 12, 85, 20) << QString();
        QTest::newRow("MemoGood") << QByteArray("MemoGood") << QRect(250, 42, 85, 20) << QString();
        QTest::newRow("MemoBoo") << QByteArray("MemoBoo") << QRect(250, 72, 85, 20) << QString();
        QTest::newRow("MemoMiss") << QByteArray("MemoMiss") << QRect(250, 102, 85, 20) << QString();
        QTest::newRow("MemoOK") << QByteArray("MemoOK") << QRect(250, 132, 85, 20) << QString();
        QTest::newRow("ButtonInsert") << QByteArray("ButtonInsert") << QRect(184, 288, 70, 25) << QStringLiteral("&Insert");
        QTest::newRow("ButtonFilePrint") << QByteArray("ButtonFilePrint") << QRect(266, 288, 70, 25) << QStringLiteral("&File Print");
        QTest::newRow("ButtonCompare") << QByteArray("ButtonCompare") << QRect(184, 321, 70, 25) << QStringLiteral("Co&mpare");
        QTest::newRow("ButtonCompareReset") << QByteArray("ButtonCompareReset") << QRect(266, 321, 70, 25) << QStringLiteral("Comp. &Reset");
        QTest::newRow("ListViewScores") << QByteArray("ListViewScores") << QRect(346, 7, 415, 295) << QString();
        QTest::newRow("PanelTotals") << QByteArray("PanelTotals") << QRect(346, 307, 415, 37) << QString();
    }

    void controlGeometry()
    {
        QFETCH(QByteArray, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        f().Open();
        if (name.contains("Warning"))
            f().ShowWarning();
        QWidget *control = f().Find<QWidget>(name.constData());
        QCOMPARE(control->geometry(), geometry);
        if (auto *button = qobject_cast<QPushButton *>(control)) {
            QCOMPARE(button->text(), text);
            QVERIFY(button->autoDefault());
            QStyleOptionButton option;
            option.initFrom(button);
            QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            QVERIFY(QFontMetrics(button->font()).horizontalAdvance(button->text().remove(u'&')) <= contents.width());
        }
    }

    void labelsAtTheirPlacesInTheirFonts_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("red");
        QTest::newRow("LabelWarningTitle") << QByteArray("LabelWarningTitle") << QPoint(312, 20) << QStringLiteral("Warning") << 32 << true << true;
        QTest::newRow("LabelWarningMessage") << QByteArray("LabelWarningMessage") << QPoint(171, 96)
                                             << QStringLiteral("You are inserting a greater amout of DPs than before!!! ") << 16 << true << false;
        QTest::newRow("LabelWarningContinue") << QByteArray("LabelWarningContinue") << QPoint(327, 148) << QStringLiteral("Continue ?") << 19 << false << true;
        QTest::newRow("LabelGreat") << QByteArray("LabelGreat") << QPoint(185, 15) << QStringLiteral("&Great") << 11 << false << false;
        QTest::newRow("LabelGood") << QByteArray("LabelGood") << QPoint(185, 45) << QStringLiteral("Goo&d") << 11 << false << false;
        QTest::newRow("LabelBoo") << QByteArray("LabelBoo") << QPoint(185, 75) << QStringLiteral("&Boo") << 11 << false << false;
        QTest::newRow("LabelMiss") << QByteArray("LabelMiss") << QPoint(185, 105) << QStringLiteral("&Miss") << 11 << false << false;
        QTest::newRow("LabelOK") << QByteArray("LabelOK") << QPoint(185, 135) << QStringLiteral("&OK") << 11 << false << false;
        QTest::newRow("LabelDPMax") << QByteArray("LabelDPMax") << QPoint(184, 173) << QStringLiteral("Max DP:") << 16 << false << false;
        QTest::newRow("LabelDPFreeze") << QByteArray("LabelDPFreeze") << QPoint(250, 173) << QStringLiteral("550 / 0") << 16 << true << true;
        QTest::newRow("LabelDPMiss") << QByteArray("LabelDPMiss") << QPoint(185, 209) << QStringLiteral("Greats:") << 16 << false << false;
        QTest::newRow("LabelDPMissResult") << QByteArray("LabelDPMissResult") << QPoint(250, 209) << QStringLiteral("550") << 16 << true << true;
        QTest::newRow("LabelRank") << QByteArray("LabelRank") << QPoint(185, 249) << QStringLiteral("Rank:") << 16 << false << false;
        QTest::newRow("LabelRankResult") << QByteArray("LabelRankResult") << QPoint(250, 249) << QStringLiteral("E") << 16 << true << true;
        QTest::newRow("LabelPercResult") << QByteArray("LabelPercResult") << QPoint(300, 254) << QStringLiteral("0.00%") << 11 << true << true;
        QTest::newRow("LabelTotalRanks") << QByteArray("LabelTotalRanks") << QPoint(3, 0) << QStringLiteral("Rank: E:256   ") << 16 << false << false;
        QTest::newRow("LabelTotalDP") << QByteArray("LabelTotalDP") << QPoint(3, 22)
                                      << QStringLiteral("Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )") << 11 << false << false;
    }

    void labelsAtTheirPlacesInTheirFonts()
    {
        QFETCH(QByteArray, name);
        QFETCH(QPoint, position);
        QFETCH(QString, text);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        QFETCH(bool, red);
        f().Open();
        if (name.contains("Warning"))
            f().ShowWarning();
        auto *label = f().Find<QLabel>(name.constData());
        QCOMPARE(label->pos(), position);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->font().pixelSize(), pixelSize);
        QCOMPARE(label->font().bold(), bold);
        if (!bold)
            QCOMPARE(label->font().weight(), QFont::Normal);  // 40 on the old scale maps to normal
        QCOMPARE(label->palette().color(QPalette::WindowText) == QColor(255, 0, 0), red);
        // a label sized to its text shows all of it, inside its parent
        QVERIFY(label->width() >= QFontMetrics(label->font()).horizontalAdvance(QString(text).remove(u'&')));
        QVERIFY(label->geometry().right() < label->parentWidget()->width());
    }

    // The warning panel is made when the first warning is due, and only one of the two panels
    // shows at a time: a hidden OK button is out of reach of Tab and mnemonics.
    void warningPanelIsMadeWhenDue()
    {
        f().Open();
        QVERIFY(f().window().findChild<QWidget *>(QStringLiteral("PanelWarning")) == nullptr);
        QWidget *entry = f().Find<QWidget>("PanelInsert");
        QVERIFY(entry->autoFillBackground());
        QCOMPARE(f().window().childAt(QPoint(5, 5)), entry);
        f().ShowWarning();
        QCOMPARE(f().window().childAt(QPoint(5, 5)), f().Find<QWidget>("PanelWarning"));
        f().Click("ButtonWarningNO");
        QVERIFY(entry->isVisible());
        QVERIFY(!f().Find<QWidget>("PanelWarning")->isVisible());
        QCOMPARE(f().window().childAt(QPoint(5, 5)), entry);
        QTest::keyClick(f().List(), Qt::Key_K, Qt::AltModifier);
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QVERIFY(!f().WarningShown());
    }

    void listColumns()
    {
        f().Open();
        QTreeView *list = f().List();
        const QStringList captions = {"Song", "Date", "AA", "Rank", "DP", "%"};
        const int widths[] = {165, 70, 30, 40, 40, 45};
        const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignRight};
        QCOMPARE(list->model()->columnCount(), 6);
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(f().Caption(column), captions[column]);
            QCOMPARE(list->columnWidth(column), widths[column]);
            QCOMPARE(Qt::Alignment(f().Cell(0, column).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
                     alignments[column]);
        }
        QVERIFY(!list->rootIsDecorated());
        QVERIFY(!list->isSortingEnabled());
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void tabOrderAndMnemonics()
    {
        f().Open();
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        const QStringList chain = {"MemoGreat", "MemoGood", "MemoBoo", "MemoMiss", "MemoOK", "ButtonInsert", "ListViewScores"};
        for (const QString &next : chain) {
            QTest::keyClick(f().FocusWidget(), Qt::Key_Tab);
            QCOMPARE(f().FocusName(), next);
        }
        const QList<QPair<Qt::Key, QString>> mnemonics = {{Qt::Key_G, "MemoGreat"}, {Qt::Key_D, "MemoGood"}, {Qt::Key_B, "MemoBoo"},
                                                          {Qt::Key_M, "MemoMiss"}, {Qt::Key_O, "MemoOK"}};
        for (const auto &[key, field] : mnemonics) {
            f().List()->setFocus();
            QTest::keyClick(f().FocusWidget(), key, Qt::AltModifier);
            QCOMPARE(f().FocusName(), field);
        }
    }

    void errorPathAppendsAFullStop_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter at the end gets a full stop") << QStringLiteral("'abc' is not a valid integer value")
                                                            << QStringLiteral("'abc' is not a valid integer value.");
        QTest::newRow("digit at the end gets one") << QStringLiteral("code 7") << QStringLiteral("code 7.");
        QTest::newRow("slash is above the full stop") << QStringLiteral("a/") << QStringLiteral("a/.");
        QTest::newRow("a full stop stays single") << QStringLiteral("done.") << QStringLiteral("done.");
        QTest::newRow("exclamation mark is below it") << QStringLiteral("stop!") << QStringLiteral("stop!");
        QTest::newRow("closing parenthesis is below it") << QStringLiteral("(x)") << QStringLiteral("(x)");
        QTest::newRow("empty message stays empty") << QString() << QString();
    }

    void errorPathAppendsAFullStop()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        TBK_ControlMain::ShowError(message);
        QCOMPARE(f().errors, QStringList({shown}));
    }

    void openDialogConfiguration_data()
    {
        QTest::addColumn<bool>("idleFirst");
        QTest::newRow("Compare right after the first frame, the dialog still in parts") << false;
        QTest::newRow("Compare once the window has been idle") << true;
    }

    void openDialogConfiguration()
    {
        QFETCH(bool, idleFirst);
        f().Open();
        if (idleFirst) {
            // built while idle, and never shown or given the focus meanwhile
            QTRY_VERIFY(f().window().findChild<QFileDialog *>(QStringLiteral("OpenDialog_Enemy")) != nullptr);
            QTest::qWait(200);
            QVERIFY(!f().Find<QFileDialog>("OpenDialog_Enemy")->isVisible());
            QCOMPARE(f().FocusWidget(), f().List());
            QCOMPARE(QApplication::activeWindow(), &f().window());
        }
        QFileDialog *shown = nullptr;
        TBK_ControlMain::SetComparisonFileChooser([&](QFileDialog &dialog, QString &) {
            shown = &dialog;
            return false;  // the player cancels
        });
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(f().Button("ButtonCompare"), Qt::LeftButton);
            QVERIFY(shown != nullptr);
            QCOMPARE(shown->objectName(), QStringLiteral("OpenDialog_Enemy"));
            QCOMPARE(shown->windowTitle(), QStringLiteral("Open for comparison"));
            QCOMPARE(shown->nameFilters(), QStringList({"Score files (*.txt)"}));
            QCOMPARE(shown->defaultSuffix(), QStringLiteral("txt"));
            QCOMPARE(shown->fileMode(), QFileDialog::ExistingFile);
            QCOMPARE(shown->acceptMode(), QFileDialog::AcceptOpen);
            QCOMPARE(shown->viewMode(), QFileDialog::Detail);
            if (!idleFirst)  // the process's first dialog; a later one opens where the last one was
                QCOMPARE(shown->directory().absolutePath(), QDir::currentPath());
        }
        QCOMPARE(f().window().findChildren<QFileDialog *>().size(), 1);  // built once, then reused
        QCOMPARE(f().Find<QFileDialog>("OpenDialog_Enemy"), shown);
        QCOMPARE(f().Caption(5), QStringLiteral("%"));  // cancelled: nothing changed
    }
};

QTEST_MAIN(TestWindowStartup)
#include "tst_window_startup.moc"
