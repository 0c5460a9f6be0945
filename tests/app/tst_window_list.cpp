#include <algorithm>

#include "chart_list_model.h"
#include "window_fixture.h"

class TestWindowList : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    // A few scores with ties in date, DP lost and percentage.
    void OpenWithScores()
    {
        QByteArray file = ScoreRecord(".59", "06/09/2005", 20)           // 96.36
                          + ScoreRecord("1998", "06/09/2005", 20)        // 96.96: same DP, higher percentage
                          + ScoreRecord("ABSOLUTE", "02/01/2005", 0)     // perfect
                          + ScoreRecord("5.1.1.", "31/12/2004", 206)     // scored, everything lost: N/A
                          + ScoreRecord("YOZORA NO MUKO", "07/09/2005", 40);
        QVERIFY(WriteBytes("Scores.txt", file));
        f().Open();
    }

    void ExpectSelected(const QString &title)
    {
        QCOMPARE(f().SelectedTitle(), title);
        QCOMPARE(f().CurrentTitle(), title);
        QCOMPARE(f().Field("MemoGreat")->text(), QString::number(Chart(title.toLatin1().constData()).dpLost));
    }

private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void cellTexts_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("spoken");  // what a screen reader reads for them, cell by cell
        QTest::newRow(".59 with 20 lost") << QByteArray(".59") << QStringList({".59", "06/09/2005", "38", "AA", "20", "96.36"})
                                          << ".59, date 06/09/2005, AA 38, rank AA, DP lost 20, 96.36 percent";
        QTest::newRow("perfect score") << QByteArray("ABSOLUTE") << QStringList({"ABSOLUTE", "02/01/2005", "43", "AAA", "0", "100.00"})
                                       << "ABSOLUTE, date 02/01/2005, AA 43, rank AAA, DP lost 0, 100.00 percent";
        QTest::newRow("everything lost shows N/A") << QByteArray("5.1.1.") << QStringList({"5.1.1.", "31/12/2004", "14", "E", "N/A", "00.00"})
                                                   << "5.1.1., date 31/12/2004, AA 14, rank E, all DP lost, 0.00 percent";
        QTest::newRow("unscored") << QByteArray("MAXX UNLIMITED") << QStringList({"MAXX UNLIMITED", "00/00/00", "101", "E", "N/A", "00.00"})
                                  << "MAXX UNLIMITED, no score, AA 101, rank E, all DP lost, 0.00 percent";
    }

    void cellTexts()
    {
        QFETCH(QByteArray, title);
        QFETCH(QStringList, cells);
        QFETCH(QString, spoken);
        OpenWithScores();
        const int row = f().RowOf(title.constData());
        QCOMPARE(f().RowTexts(row), cells);
        QStringList said;
        for (int column = 0; column < 6; ++column)
            said << f().Cell(row, column).data(Qt::AccessibleTextRole).toString();
        QCOMPARE(said.join(QStringLiteral(", ")), spoken);
    }

    // The model makes a cell's text when asked; a refill changes cells and never the rows, and a
    // title too wide for its column carries its whole text as a tool tip.
    void modelCellsAlignmentAndTitleTips()
    {
        ChartOrder order{};
        InitChartTable(&order);
        Chart(".59").dpLost = 20;
        ChartListModel model;
        model.Show(&order, false);
        QFont font = QApplication::font();
        font.setPixelSize(11);
        model.SetTitleRoom(font, 165 - 6);
        const int afronova = int(std::find(order.begin(), order.end(), &Chart("AFRONOVA (FROM NONSTOP MEGAMIX) Challenge")) - order.begin());
        QCOMPARE(model.rowCount(), 256);
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("96.36"));
        QCOMPARE(model.index(0, 0).data(Qt::ToolTipRole), QVariant());
        QCOMPARE(model.index(afronova, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("AFRONOVA (FROM NONSTOP MEGAMIX) Challenge"));
        QCOMPARE(model.index(afronova, 1).data(Qt::ToolTipRole), QVariant());
        const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignRight};
        for (int column = 0; column < 6; ++column) {
            const auto cell = Qt::Alignment(model.index(1, column).data(Qt::TextAlignmentRole).toInt());
            QCOMPARE(cell, Qt::Alignment(model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt()));
            QCOMPARE(cell & Qt::AlignHorizontal_Mask, alignments[column]);
        }

        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        Chart(".59").enemyDpLost = 30;
        model.Show(&order, true);
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("  -10"));
        QCOMPARE(model.index(0, 5).data(Qt::AccessibleTextRole).toString(), QStringLiteral("difference -10"));
        QCOMPARE(resets.count() + removed.count(), 0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(1).toModelIndex(), model.index(255, 5));
    }

    // The window's green stays out of the list, its header and its scroll bars under every style;
    // the selected row is filled with the style's highlight, which only some styles draw behind
    // the cells themselves; a title too long for its column is cut inside its cell.
    void keepsTheStyleColours_data()
    {
        QTest::addColumn<QString>("style");
        QTest::newRow("fusion") << QStringLiteral("fusion");
        QTest::newRow("windows") << QStringLiteral("windows");
    }

    void keepsTheStyleColours()
    {
        QFETCH(QString, style);
        const QString before = QApplication::style()->name();
        QApplication::setStyle(style);
        f().Open();
        const char *longTitle = "AFRONOVA (FROM NONSTOP MEGAMIX) Challenge";
        f().ClickRow("1998");  // the long title stands some rows below, in view
        QTreeView *view = f().List();
        const QImage list = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QApplication::setStyle(before);
        const auto *pixels = reinterpret_cast<const QRgb *>(list.constBits());
        QCOMPARE(std::count(pixels, pixels + list.sizeInBytes() / 4, qRgb(0, 128, 0)), 0);

        const QPoint offset = view->viewport()->mapTo(view, QPoint(0, 0));
        const QRect selected = view->visualRect(f().Cell(f().RowOf("1998"), 1)).translated(offset);
        const QRgb fill = list.pixel(selected.left() + 4, selected.center().y());  // Fusion shades it a little
        QVERIFY(qAbs(qGray(fill) - qGray(view->palette().color(QPalette::Active, QPalette::Highlight).rgb())) < 4);
        const QRect afterTitle = view->visualRect(f().Cell(f().RowOf(longTitle), 1)).translated(offset);
        QVERIFY(view->viewport()->rect().contains(afterTitle.translated(-offset)));
        for (int x = afterTitle.left(); x < afterTitle.left() + 8; ++x)  // the date is centred, well clear of here
            for (int y = afterTitle.top(); y <= afterTitle.bottom(); ++y)
                QCOMPARE(QColor(list.pixel(x, y)), view->palette().color(QPalette::Active, QPalette::Base));
    }

    // The header is measured once; a font of another size measures it anew.
    void headerFollowsItsFont()
    {
        f().Open();
        QHeaderView *header = f().List()->header();
        const int height = header->height();
        QFont larger = header->font();
        larger.setPixelSize(QFontInfo(larger).pixelSize() * 2);
        header->setFont(larger);
        QTRY_VERIFY(header->height() > height + 5);
        header->setFont(f().List()->font());
        QTRY_COMPARE(header->height(), height);
    }

    void storedLossAboveMaxDpShowsItsValue()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord(".59", "06/09/2005", 9999)));
        f().Open();
        QCOMPARE(f().RowTexts(0), QStringList({".59", "06/09/2005", "38", "E", "9999", "00.00"}));
    }

    void columnClickSequence()
    {
        OpenWithScores();
        f().ClickRow("1998");
        ExpectSelected("1998");
        const QString ranks = f().LabelText("LabelTotalRanks");
        const QString dp = f().LabelText("LabelTotalDP");

        f().ClickHeader(0);  // name was already the key: the direction turns
        QCOMPARE(f().Titles().first(), QStringLiteral("YOZORA NO MUKO"));
        QCOMPARE(f().Titles().last(), QStringLiteral(".59"));
        ExpectSelected("1998");

        f().ClickHeader(0);
        QCOMPARE(f().Titles().first(), QStringLiteral(".59"));
        QCOMPARE(f().Titles().last(), QStringLiteral("YOZORA NO MUKO"));
        ExpectSelected("1998");

        f().ClickHeader(1);  // newest first, same day by title, unscored last
        QCOMPARE(f().Titles().mid(0, 5), QStringList({"YOZORA NO MUKO", ".59", "1998", "ABSOLUTE", "5.1.1."}));
        QCOMPARE(f().Titles().at(5), QStringLiteral("1000 Paper Cranes"));
        ExpectSelected("1998");

        f().ClickHeader(3);  // rank orders by percentage, highest first
        const QStringList byRank = f().Titles();
        QCOMPARE(byRank.mid(0, 5), QStringList({"ABSOLUTE", "1998", ".59", "YOZORA NO MUKO", "1000 Paper Cranes"}));
        f().ClickHeader(5);  // another key: the direction is set, not inverted
        QCOMPARE(f().Titles(), byRank);
        ExpectSelected("1998");

        f().ClickHeader(4);  // DP lost: equal losses by percentage, then by title
        QCOMPARE(f().Titles().mid(0, 4), QStringList({"ABSOLUTE", "1998", ".59", "YOZORA NO MUKO"}));
        f().ClickHeader(4);
        QCOMPARE(f().Titles().mid(252), QStringList({"YOZORA NO MUKO", ".59", "1998", "ABSOLUTE"}));
        ExpectSelected("1998");

        f().ClickHeader(2);  // smallest allowance first
        QCOMPARE(f().Titles().first(), QStringLiteral("5.1.1."));
        QCOMPARE(f().Titles().last(), QStringLiteral("MAXX UNLIMITED"));
        ExpectSelected("1998");

        QCOMPARE(f().LabelText("LabelTotalRanks"), ranks);  // a header click computes no totals
        QCOMPARE(f().LabelText("LabelTotalDP"), dp);
        QVERIFY(f().dir().entries() == QStringList({"Scores.txt"}));
        QVERIFY(f().errors.isEmpty());
    }

    void ctrlDigitSortsLikeAHeaderClick()
    {
        OpenWithScores();
        f().ClickRow("1998");
        QTreeView *list = f().List();
        const QString ranks = f().LabelText("LabelTotalRanks");

        QTest::keyClick(list, Qt::Key_5, Qt::ControlModifier);  // DP lost
        QCOMPARE(f().Titles().mid(0, 4), QStringList({"ABSOLUTE", "1998", ".59", "YOZORA NO MUKO"}));
        QTest::keyClick(list, Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier);  // again: reversed
        QCOMPARE(f().Titles().mid(252), QStringList({"YOZORA NO MUKO", ".59", "1998", "ABSOLUTE"}));
        QTest::keyClick(list, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(f().Titles().first(), QStringLiteral(".59"));
        ExpectSelected("1998");
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));

        const QStringList byName = f().Titles();
        QTest::keyClick(list, Qt::Key_7, Qt::ControlModifier);  // no seventh column
        QTest::keyClick(list, Qt::Key_0, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_5, Qt::AltModifier | Qt::ControlModifier);
        QCOMPARE(f().Titles(), byName);
        ExpectSelected("1998");
        QCOMPARE(f().LabelText("LabelTotalRanks"), ranks);
        QVERIFY(f().errors.isEmpty());
    }

    void selectedRowIsScrolledIntoView()
    {
        f().Open();
        f().ClickRow("YOZORA NO MUKO");
        f().ClickHeader(0);
        f().ClickHeader(0);
        QVERIFY(f().List()->viewport()->rect().intersects(f().List()->visualRect(f().Cell(255))));
    }

    void keyboardMovesTheSelectionAndPrefills()
    {
        OpenWithScores();
        f().List()->setFocus();
        QTest::keyClick(f().List(), Qt::Key_Down);
        ExpectSelected("1000 Paper Cranes");
        QCOMPARE(f().LabelText("LabelDPFreeze"), QStringLiteral("834 / 6"));
        QTest::keyClick(f().List(), Qt::Key_End);
        ExpectSelected("YOZORA NO MUKO");
        QCOMPARE(f().Field("MemoOK")->text(), QStringLiteral("20"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("40"));
    }
};

QTEST_MAIN(TestWindowList)
#include "tst_window_list.moc"
