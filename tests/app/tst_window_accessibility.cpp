#include <QAbstractButton>
#include <QAbstractItemView>
#include <QFileDialog>

#include "reader_fixture.h"

// What a screen reader reads of each control: its name, role, description and key, the list's
// cells and the entry fields' text, as the accessibility interfaces give them.
class TestWindowAccessibility : public QObject, public ReaderFixture {
    Q_OBJECT

    // A button's caption, or the caption of the label that names a field, without its mnemonic.
    QString VisibleWords(QWidget *control)
    {
        QString words;
        if (auto *button = qobject_cast<QAbstractButton *>(control))
            words = button->text();
        for (QLabel *label : f().window().findChildren<QLabel *>()) {
            if (label->buddy() == control)
                words = label->text();
        }
        return words.remove(u'&');
    }

private slots:
    void initTestCase() { QVERIFY(StartReader()); }
    void init() { StartTest(); }
    void cleanup() { EndTest(); }

    void namesAndRoles_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<bool>("described");
        QTest::addColumn<QString>("key");  // a button's, as its press reports it and its description begins

        const auto row = [](const char *control, const char *name, QAccessible::Role role, bool described = true,
                            const char *key = "") {
            QTest::newRow(control) << QByteArray(control) << QString::fromLatin1(name) << role << described
                                   << QString::fromLatin1(key);
        };
        row("MemoGreat", "Great count", QAccessible::EditableText);
        row("MemoGood", "Good count", QAccessible::EditableText);
        row("MemoBoo", "Boo count", QAccessible::EditableText);
        row("MemoMiss", "Miss count", QAccessible::EditableText);
        row("MemoOK", "OK freeze count", QAccessible::EditableText);
        // a reader names a field by its label: the label must say no less than the field's name
        row("LabelGreat", "Great count", QAccessible::StaticText, false);
        row("LabelMiss", "Miss count", QAccessible::StaticText, false);
        row("LabelOK", "OK freeze count", QAccessible::StaticText, false);
        row("LabelDPFreeze", "Max DP and freezes: 550 / 0", QAccessible::StaticText);
        row("LabelDPMissResult", "Greats: 550", QAccessible::StaticText);
        row("LabelRankResult", "Rank: E", QAccessible::StaticText);
        row("LabelPercResult", "Percentage: 0.00%", QAccessible::StaticText);
        row("LabelTotalRanks", "Rank: E:256   ", QAccessible::StaticText);
        row("LabelTotalDP", "Total DPs: 0 / 189842      ( 0.00% - Miss: 189842 )", QAccessible::StaticText);
        row("ButtonInsert", "Insert, store the score", QAccessible::PushButton, true, "Alt+I");
        row("ButtonFilePrint", "File Print", QAccessible::PushButton, true, "Alt+F");
        row("ButtonCompare", "Compare", QAccessible::PushButton, true, "Alt+M");
        row("ButtonCompareReset", "Comp. Reset, end the comparison", QAccessible::PushButton, true, "Alt+R");  // disabled
        row("ButtonWarningOK", "OK, store the worse score", QAccessible::PushButton, true, "Alt+K");
        row("ButtonWarningNO", "Cancel, keep the stored score", QAccessible::PushButton, true, "Alt+C");
        row("ListViewScores", "Charts and scores", QAccessible::Tree);
        row("ImageBrisko", "Brisko Calculator picture", QAccessible::Graphic);
        row("Bevel1", "", QAccessible::Separator, false);
        row("Bevel2", "", QAccessible::Separator, false);
        // only laying out: a reader reads no panel and its labels as the context of the focus
        row("PanelInsert", "Score entry", QAccessible::Client, false);
        row("PanelTotals", "Totals", QAccessible::Client, false);
        row("PanelWarning", "Warning", QAccessible::AlertMessage);
        row("NoticeResult", "", QAccessible::Notification, false);
        row("StatusNotices", "", QAccessible::StatusBar, false);  // where a notification is said without its role
    }

    void namesAndRoles()
    {
        QFETCH(QByteArray, control);
        QFETCH(QString, name);
        QFETCH(QAccessible::Role, role);
        QFETCH(bool, described);
        QFETCH(QString, key);
        f().Open();
        if (control.contains("Warning"))
            f().ShowWarning();
        QAccessibleInterface *accessible = Accessible(control.constData());
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QCOMPARE(accessible->role(), role);
        QCOMPARE(!accessible->text(QAccessible::Description).isEmpty(), described);
        if (key.isEmpty())
            return;
        QAccessibleActionInterface *actions = accessible->actionInterface();
        QVERIFY(actions != nullptr);
        QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
        QCOMPARE(actions->keyBindingsForAction(QAccessibleActionInterface::pressAction()), QStringList(key));
        QVERIFY(accessible->text(QAccessible::Description).startsWith(key + QStringLiteral(". ")));
    }

    void everyControlIsNamedAndDescribed()
    {
        f().Open();
        f().ShowWarning();
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
            const QString name = accessible->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!accessible->text(QAccessible::Description).isEmpty(), qPrintable(control->objectName()));
            // what is said to press or fill it by voice is what the eye reads on it or beside it
            const QString visible = VisibleWords(control);
            QVERIFY2(visible.isEmpty() || name.startsWith(visible), qPrintable(name + QStringLiteral(" / ") + visible));
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
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("Greats: 10"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 98.39%"));
        QCOMPARE(Name("LabelDPFreeze"), QStringLiteral("Max DP and freezes: 622 / 0"));

        f().Type("MemoMiss", "3");
        QCOMPARE(Name("LabelDPMissResult"), QStringLiteral("Greats: 40"));
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: AA"));
        f().Type("MemoMiss", "5");
        QCOMPARE(Name("LabelRankResult"), QStringLiteral("Rank: A"));
        QCOMPARE(Name("LabelPercResult"), QStringLiteral("Percentage: 90.35%"));

        f().Type("MemoMiss", "");
        f().Click("ButtonInsert");
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Rank: AA:1   E:255   "));
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
        QCOMPARE(Name("LabelTotalRanks"), QStringLiteral("Won: 0   Lost: 256   Drawn: 0"));
        QVERIFY(Name("LabelTotalDP").startsWith(QStringLiteral("( Total DP Won: 0   Total DP Lost: ")));
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
        const QStringList cells = {"ABSOLUTE", "date 06/09/2005", "AA 43", "rank AA", "DP lost 10", "98.39 percent"};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(table->columnDescription(column), captions[column]);
            QAccessibleInterface *cell = table->cellAt(row, column);
            QVERIFY(cell != nullptr);
            QCOMPARE(cell->text(QAccessible::Name), cells[column]);
        }
    }

    // A field's number is reported as one run of text, and the field otherwise answers as the
    // toolkit's own line edit does; the comparison dialog's name field keeps the toolkit's.
    void entryFieldIsReadWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("selectFrom");  // -1: the caret at the end, nothing selected
        QTest::newRow("a prefilled number, selected") << "622" << 0;
        QTest::newRow("a lone 0, selected") << "0" << 0;
        QTest::newRow("part selected") << "12345" << 2;
        QTest::newRow("typed, nothing selected") << "48" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void entryFieldIsReadWhole()
    {
        QFETCH(QString, text);
        QFETCH(int, selectFrom);
        f().Open();
        QLineEdit *field = f().Field("MemoGreat");
        QLineEdit plain;  // the toolkit's, wherever the window's fields are not
        QFont font = field->font();  // as the field's, told explicitly, not only inherited
        font.setFamily(font.family());
        font.setPixelSize(font.pixelSize());
        font.setWeight(font.weight());
        plain.setFont(font);
        plain.setGeometry(QRect(field->mapToGlobal(QPoint()), field->size()));
        plain.show();
        for (QLineEdit *edit : {field, &plain}) {
            edit->setText(text);
            if (selectFrom >= 0)
                edit->setSelection(selectFrom, int(text.size()) - selectFrom);
        }
        QAccessibleTextInterface *ours = QAccessible::queryAccessibleInterface(field)->textInterface();
        QAccessibleTextInterface *toolkits = QAccessible::queryAccessibleInterface(&plain)->textInterface();
        QVERIFY(ours != nullptr && toolkits != nullptr && ours != toolkits);
        const auto answers = [&plain](QAccessibleTextInterface *reading) {
            QStringList said;
            int start = 0, end = 0;
            reading->selection(0, &start, &end);
            said << QStringLiteral("%1 %2 %3 %4 %5").arg(reading->characterCount()).arg(reading->cursorPosition())
                                                   .arg(reading->selectionCount()).arg(start).arg(end);
            // within the text: at its end the toolkit's own word and character search never ends
            for (int offset = 0; offset < std::min(2, int(plain.text().size()) - 1); ++offset) {
                for (auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary}) {
                    said << reading->textAtOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end)
                         << reading->textBeforeOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end)
                         << reading->textAfterOffset(offset, boundary, &start, &end) + QString::number(start * 100 + end);
                }
                const QRect rect = reading->characterRect(offset);
                said << QStringLiteral("%1,%2 %3x%4 at %5").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height())
                                                           .arg(rect.isEmpty() ? -1 : reading->offsetAtPoint(rect.center()));
            }
            return said;
        };
        const QPoint shift = plain.mapToGlobal(QPoint()) - field->mapToGlobal(QPoint());
        QStringList toolkitSaid = answers(toolkits);
        QCOMPARE(shift, QPoint());
        QCOMPARE(answers(ours), toolkitSaid);
        int start = -1, end = -1;
        for (int offset = 0; offset < text.size(); ++offset) {
            ours->attributes(offset, &start, &end);
            QCOMPARE(QPair(start, end), QPair(0, int(text.size())));
            toolkits->attributes(offset, &start, &end);
            QCOMPARE(QPair(start, end), QPair(offset, offset));  // what a reader cuts the number by
        }
        for (int atEnd : {int(text.size()), -2}) {  // where the toolkit's own search never returns
            field->setCursorPosition(int(text.size()));
            QCOMPARE(ours->textAtOffset(atEnd, QAccessible::WordBoundary, &start, &end), text);
            QCOMPARE(QPair(start, end), QPair(0, int(text.size())));
        }
        if (text.size() != 3)
            return;
        QTRY_VERIFY_WITH_TIMEOUT(f().window().findChild<QFileDialog *>() != nullptr, 5000);
        for (QLineEdit *name : f().window().findChild<QFileDialog *>()->findChildren<QLineEdit *>()) {
            name->setText(QStringLiteral("*.txt"));
            QAccessible::queryAccessibleInterface(name)->textInterface()->attributes(1, &start, &end);
            QCOMPARE(QPair(start, end), QPair(1, 1));
        }
    }
};

QTEST_MAIN(TestWindowAccessibility)
#include "tst_window_accessibility.moc"
