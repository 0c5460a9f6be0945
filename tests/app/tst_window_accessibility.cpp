#include <QAccessible>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QFileDialog>

#include "window_fixture.h"

// What a screen reader is told: it reads the accessibility interfaces, not the widgets.
class TestWindowAccessibility : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }

    QAccessibleInterface *Accessible(const char *name)
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(f().Find<QWidget>(name));
        if (accessible == nullptr)
            qFatal("%s has no accessibility interface", name);
        return accessible;
    }

    QString Name(const char *name) { return Accessible(name)->text(QAccessible::Name); }

private slots:
    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void namesAndRoles_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<bool>("described");

        const auto row = [](const char *control, const char *name, QAccessible::Role role, bool described = true) {
            QTest::newRow(control) << QByteArray(control) << QString::fromLatin1(name) << role << described;
        };
        row("MemoGreat", "Great count", QAccessible::EditableText);
        row("MemoGood", "Good count", QAccessible::EditableText);
        row("MemoBoo", "Boo count", QAccessible::EditableText);
        row("MemoMiss", "Miss count", QAccessible::EditableText);
        row("MemoOK", "Freeze OK count", QAccessible::EditableText);
        row("LabelGreat", "Great", QAccessible::StaticText, false);
        row("LabelMiss", "Miss", QAccessible::StaticText, false);
        row("LabelDPFreeze", "Max DP and freezes: 550 / 0", QAccessible::StaticText);
        row("LabelDPMissResult", "DP lost: 550", QAccessible::StaticText);
        row("LabelRankResult", "Rank: E", QAccessible::StaticText);
        row("LabelPercResult", "Percentage: 0.00%", QAccessible::StaticText);
        row("LabelTotalRanks", "Rank totals: Rank: E:256", QAccessible::StaticText);
        row("LabelTotalDP", "DP totals: Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )", QAccessible::StaticText);
        row("ButtonInsert", "Insert score", QAccessible::PushButton);
        row("ButtonFilePrint", "File print", QAccessible::PushButton);
        row("ButtonCompare", "Compare", QAccessible::PushButton);
        row("ButtonCompareReset", "Comparison reset", QAccessible::PushButton);
        row("ButtonWarningOK", "Store the worse score", QAccessible::PushButton);
        row("ButtonWarningNO", "Keep the stored score", QAccessible::PushButton);
        row("ListViewScores", "Charts and scores", QAccessible::Tree);
        row("ImageBrisko", "Brisko Calculator picture", QAccessible::Graphic);
    }

    void namesAndRoles()
    {
        QFETCH(QByteArray, control);
        QFETCH(QString, name);
        QFETCH(QAccessible::Role, role);
        QFETCH(bool, described);
        f().Open();
        QAccessibleInterface *accessible = Accessible(control.constData());
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QCOMPARE(accessible->role(), role);
        QCOMPARE(!accessible->text(QAccessible::Description).isEmpty(), described);
    }

    void everyControlIsNamedAndDescribed()
    {
        f().Open();
        QList<QWidget *> controls;
        for (QWidget *widget : f().window().findChildren<QWidget *>()) {
            if (widget->window() != &f().window())
                continue;  // the comparison dialog is a window of its own
            if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractButton *>(widget) ||
                (qobject_cast<QAbstractItemView *>(widget) && !qobject_cast<QHeaderView *>(widget)))
                controls << widget;
        }
        QCOMPARE(controls.size(), 5 + 6 + 1);
        for (QWidget *control : std::as_const(controls)) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY2(accessible != nullptr, qPrintable(control->objectName()));
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!accessible->text(QAccessible::Description).isEmpty(), qPrintable(control->objectName()));
        }
    }

    void entryFieldsAreLabelledByTheirCaptions()
    {
        f().Open();
        QAccessibleInterface *field = Accessible("MemoBoo");
        const auto labels = field->relations(QAccessible::Label);  // the caption is the label of the field
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object(), f().Find<QObject>("LabelBoo"));
        QCOMPARE(field->text(QAccessible::Value), QString());
        f().Type("MemoBoo", "2");
        QCOMPARE(field->text(QAccessible::Value), QStringLiteral("2"));
    }

    // A screen reader reads a label's name in place of its text, so the results carry their
    // values in their names and follow every change.
    void resultNamesFollowTheResults()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("DP lost: 10"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 98.39%"));
        QCOMPARE(Name("LabelDPFreeze"), QStringLiteral("Max DP and freezes: 622 / 0"));

        f().Type("MemoMiss", "3");
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("DP lost: 40"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        f().Type("MemoMiss", "5");
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: A"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 90.35%"));

        f().Type("MemoMiss", "");
        f().Click("ButtonInsert");
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Rank totals: Rank: AA:1   E:255"));
    }

    void comparisonTotalsAreRead()
    {
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 17)));
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QStringLiteral("friend.txt");
            return true;
        });
        f().Open();
        f().Click("ButtonCompare");
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Rank totals: Won: 0   Lost: 256   Drawn: 0"));
        QVERIFY(Name("LabelTotalDP").startsWith(QStringLiteral("DP totals: ( Total DP Won: 0   Total DP Lost: ")));
    }

    void listCellsAreReadWithTheirColumns()
    {
        QVERIFY(WriteBytes("Scores.txt", ScoreRecord("ABSOLUTE", "06/09/2005", 10)));
        f().Open();
        f().ClickRow("ABSOLUTE");
        QAccessibleTableInterface *table = Accessible("ListViewScores")->tableInterface();
        QVERIFY(table != nullptr);
        QCOMPARE(table->columnCount(), 6);
        QCOMPARE(table->rowCount(), 256);
        const int row = f().RowOf("ABSOLUTE");
        QCOMPARE(table->selectedRows(), QList<int>({row}));
        const QStringList captions = {"Song", "Date", "AA", "Rank", "DP", "%"};
        const QStringList cells = {"ABSOLUTE", "06/09/2005", "43", "AA", "10", "98.39"};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(table->columnDescription(column), captions[column]);
            QAccessibleInterface *cell = table->cellAt(row, column);
            QVERIFY(cell != nullptr);
            QCOMPARE(cell->text(QAccessible::Name), cells[column]);
        }
    }
};

QTEST_MAIN(TestWindowAccessibility)
#include "tst_window_accessibility.moc"
