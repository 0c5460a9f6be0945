#include <QDate>
#include <QFileDialog>

#include "window_fixture.h"

namespace {


QByteArray Today()
{
    return QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")).toLatin1();
}

constexpr int AbsoluteRow = 16;  // in title order, from the first row ".59"

int WithAlt(Qt::Key key)
{
    return (Qt::ALT | key).toCombined();
}

}  // namespace

// A player who never touches the mouse: every key goes to whatever has the focus, as the
// keyboard sends it.
class TestWindowKeyboard : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }
    int chooserCalls_ = 0;

    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY2(focus != nullptr, "no control has the focus");
        QTest::keyClick(focus, key, modifiers);
    }

    void Alt(Qt::Key key) { Press(key, Qt::AltModifier); }

    void Type(const char *text)
    {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY2(focus != nullptr, "no control has the focus");
        QTest::keyClicks(focus, QString::fromLatin1(text));
    }

    void DownToAbsolute()
    {
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        for (int i = 0; i < AbsoluteRow + 1; ++i)
            Press(Qt::Key_Down);
        Press(Qt::Key_Up);
        QCOMPARE(f().SelectedTitle(), QStringLiteral("ABSOLUTE"));
    }


    QByteArray AbsoluteRecord() const
    {
        const QByteArray file = ReadText("Scores.txt");
        const qsizetype at = file.indexOf("ABSOLUTE\n");
        return at < 0 ? QByteArray() : file.mid(at, file.indexOf("----------", at) - at);
    }

    void AnswerDialogWith(const QString &fileName)
    {
        TBK_ControlMain::SetComparisonFileChooser([this, fileName](QFileDialog &, QString &chosen) {
            ++chooserCalls_;
            chosen = fileName;
            return true;
        });
    }

private slots:
    void init()
    {
        fixture_ = std::make_unique<WindowFixture>();
        chooserCalls_ = 0;
    }
    void cleanup() { fixture_.reset(); }

    void insertFromTheKeyboardAlone()
    {
        f().Open();
        DownToAbsolute();
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("622"));

        Press(Qt::Key_Return);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoGreat"));
        QCOMPARE(f().Field("MemoGreat")->selectedText(), QStringLiteral("622"));  // typing replaces it
        Type("4");
        Press(Qt::Key_Return);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoGood"));
        Type("1");
        for (const char *next : {"MemoBoo", "MemoMiss", "MemoOK", "ButtonInsert"}) {
            Press(Qt::Key_Return);
            QCOMPARE(f().FocusName(), QString::fromLatin1(next));
        }
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("4"));
        QCOMPARE(f().Field("MemoGood")->text(), QStringLiteral("1"));
        QCOMPARE(f().LabelText("LabelDPMissResult"), QStringLiteral("6"));
        QVERIFY(!QFile::exists("Scores.txt"));

        Press(Qt::Key_Return);
        QCOMPARE(AbsoluteRecord(), "ABSOLUTE\n" + Today() + "\n6\n");
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QCOMPARE(f().SelectedTitle(), QStringLiteral("ABSOLUTE"));
        QVERIFY(f().errors.isEmpty());

        Press(Qt::Key_Down);  // the list goes on from the chart just stored
        QCOMPARE(f().SelectedTitle(), f().Titles().at(AbsoluteRow + 1));
    }

    void answerTheWarningFromTheKeyboard_data()
    {
        QTest::addColumn<QList<int>>("keys");  // combined keys: a Qt::Key with its modifiers
        QTest::addColumn<bool>("stored");
        QTest::newRow("Enter on OK") << QList<int>{Qt::Key_Return} << true;
        QTest::newRow("Space on OK") << QList<int>{Qt::Key_Space} << true;
        QTest::newRow("Tab, Enter on Cancel") << QList<int>{Qt::Key_Tab, Qt::Key_Return} << false;
        QTest::newRow("Tab, Space on Cancel") << QList<int>{Qt::Key_Tab, Qt::Key_Space} << false;
        QTest::newRow("Tab, Tab back to OK, Enter") << QList<int>{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return} << true;
        QTest::newRow("Shift+Tab, Enter on Cancel") << QList<int>{Qt::Key_Backtab, Qt::Key_Return} << false;
        QTest::newRow("Alt+K") << QList<int>{WithAlt(Qt::Key_K)} << true;
        QTest::newRow("Alt+C") << QList<int>{WithAlt(Qt::Key_C)} << false;
        QTest::newRow("Escape on OK") << QList<int>{Qt::Key_Escape} << false;
        QTest::newRow("Tab, Escape on Cancel") << QList<int>{Qt::Key_Tab, Qt::Key_Escape} << false;
    }

    void answerTheWarningFromTheKeyboard()
    {
        QFETCH(QList<int>, keys);
        QFETCH(bool, stored);
        const QByteArray file = ScoreRecord("ABSOLUTE", "06/09/2005", 10);
        QVERIFY(WriteBytes("Scores.txt", file));
        f().Open();
        DownToAbsolute();
        Press(Qt::Key_Return);
        Type("30");
        Alt(Qt::Key_I);
        QTRY_VERIFY(f().WarningShown());
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonWarningOK"));

        for (int key : keys) {
            const QKeyCombination combination = QKeyCombination::fromCombined(key);
            Press(combination.key(), combination.keyboardModifiers());
        }
        QTRY_VERIFY(!f().WarningShown());
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        if (stored)
            QCOMPARE(AbsoluteRecord(), "ABSOLUTE\n" + Today() + "\n30\n");
        else
            QCOMPARE(ReadText("Scores.txt"), file);
        QCOMPARE(f().RowTexts(f().RowOf("ABSOLUTE")).at(4), QString::fromLatin1(stored ? "30" : "10"));
    }

    void fieldMnemonics_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("Alt+G from Insert") << QByteArray("ButtonInsert") << int(Qt::Key_G) << QByteArray("MemoGreat");
        QTest::newRow("Alt+D from Great") << QByteArray("MemoGreat") << int(Qt::Key_D) << QByteArray("MemoGood");
        QTest::newRow("Alt+B from OK") << QByteArray("MemoOK") << int(Qt::Key_B) << QByteArray("MemoBoo");
        QTest::newRow("Alt+M from Good") << QByteArray("MemoGood") << int(Qt::Key_M) << QByteArray("MemoMiss");
        QTest::newRow("Alt+M from the list") << QByteArray("ListViewScores") << int(Qt::Key_M) << QByteArray("MemoMiss");
        QTest::newRow("Alt+O from Miss") << QByteArray("MemoMiss") << int(Qt::Key_O) << QByteArray("MemoOK");
    }

    void fieldMnemonics()
    {
        QFETCH(QByteArray, from);
        QFETCH(int, key);
        QFETCH(QByteArray, field);
        f().Open();
        f().Find<QWidget>(from.constData())->setFocus(Qt::OtherFocusReason);
        f().Field(field.constData())->setText(QStringLiteral("12"));
        Alt(Qt::Key(key));
        QCOMPARE(f().FocusName(), QString::fromLatin1(field));
        QCOMPARE(f().Field(field.constData())->selectedText(), QStringLiteral("12"));  // ready to be typed over
        QVERIFY(f().errors.isEmpty());
    }

    // "&Miss" and "Co&mpare" share Alt+M. Qt alone hands it to the two in turn and remembers
    // the turn, so every second Alt+M would miss the field. The field always comes first;
    // from the field, Alt+M goes on to Compare.
    void altMReachesMissFirstAndThenCompare()
    {
        QVERIFY(WriteBytes("friend.txt", ScoreRecord("ABSOLUTE", "01/01/2006", 20)));
        AnswerDialogWith(QStringLiteral("friend.txt"));
        f().Open();
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoMiss"));
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonCompare"));
        QCOMPARE(chooserCalls_, 0);  // the focus moved; nothing was pressed
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoMiss"));
        Press(Qt::Key_Tab);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoOK"));
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoMiss"));
        Type("2");
        Press(Qt::Key_Return);
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoMiss"));
        QCOMPARE(f().Field("MemoMiss")->text(), QStringLiteral("2"));

        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonCompare"));
        Press(Qt::Key_Space);
        QCOMPARE(chooserCalls_, 1);
        QCOMPARE(f().Caption(5), QStringLiteral("Diff."));
        QVERIFY(f().Button("ButtonCompareReset")->isEnabled());

        Alt(Qt::Key_R);
        QTRY_COMPARE(f().Caption(5), QStringLiteral("%"));
        QVERIFY(!f().Button("ButtonCompareReset")->isEnabled());

        Alt(Qt::Key_M);
        Alt(Qt::Key_M);
        QCOMPARE(f().FocusName(), QStringLiteral("ButtonCompare"));
        Press(Qt::Key_Return);
        QCOMPARE(chooserCalls_, 2);
        QCOMPARE(f().Caption(5), QStringLiteral("Diff."));
        QVERIFY(f().errors.isEmpty());
    }

    // A chord that is no live mnemonic types nothing into a field and raises nothing; the live
    // mnemonics and the editing chords go on working there.
    void chordsTypeNoTextIntoAField()
    {
        f().Open();
        DownToAbsolute();
        Alt(Qt::Key_G);
        Type("12");
        const QString result = f().LabelText("LabelDPMissResult");
        struct Chord {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
        };
        const Chord stray[] = {
            {Qt::Key_R, Qt::AltModifier},  // Comp. Reset is disabled
            {Qt::Key_K, Qt::AltModifier},  // the warning is hidden
            {Qt::Key_C, Qt::AltModifier},
            {Qt::Key_Z, Qt::AltModifier},
            {Qt::Key_5, Qt::AltModifier},
            {Qt::Key_Z, Qt::MetaModifier},
            {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier},
        };
        for (const Chord &chord : stray) {
            Press(chord.key, chord.modifiers);
            QCOMPARE(f().FocusName(), QStringLiteral("MemoGreat"));
            QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("12"));
        }
        QCOMPARE(f().LabelText("LabelDPMissResult"), result);
        QCOMPARE(f().Caption(5), QStringLiteral("%"));
        QVERIFY(!f().WarningShown());

        // AltGr: a group switch on X11, Ctrl with Alt on Windows; the layout's character is typed
        QTest::keyClick(f().Field("MemoGreat"), '$', Qt::GroupSwitchModifier);
        QTest::keyClick(f().Field("MemoGreat"), '4', Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("12$4"));
        QCOMPARE(f().errors, QStringList({"'12$' is not a valid integer value.", "'12$4' is not a valid integer value."}));
        f().errors.clear();

        Press(Qt::Key_Z, Qt::ControlModifier);  // takes back all typed over the selected 622
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("622"));
        Press(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(f().Field("MemoGreat")->selectedText(), QStringLiteral("622"));
        Press(Qt::Key_C, Qt::ControlModifier);
        Type("1");
        Press(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f().Field("MemoGreat")->text(), QStringLiteral("1622"));
        Alt(Qt::Key_D);
        QCOMPARE(f().FocusName(), QStringLiteral("MemoGood"));
        QVERIFY(f().errors.isEmpty());
    }

    void resetMnemonicDoesNothingOutsideComparison()
    {
        f().Open();
        const QStringList titles = f().Titles();
        Alt(Qt::Key_R);
        QTest::qWait(200);  // longer than a mnemonic's animated click
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
        QCOMPARE(f().Caption(5), QStringLiteral("%"));
        QCOMPARE(f().Titles(), titles);
        QVERIFY(f().dir().entries().isEmpty());
    }

    void commandMnemonics()
    {
        f().Open();
        Alt(Qt::Key_F);
        QTRY_VERIFY(QFile::exists("OutPrint.txt"));
        QCOMPARE(ReadText("OutPrint.txt").count('\n'), 256);
        QVERIFY(!QFile::exists("Scores.txt"));

        DownToAbsolute();
        Alt(Qt::Key_G);
        Type("3");
        Alt(Qt::Key_I);
        QTRY_VERIFY(QFile::exists("Scores.txt"));
        QCOMPARE(AbsoluteRecord(), "ABSOLUTE\n" + Today() + "\n3\n");
        QCOMPARE(f().FocusName(), QStringLiteral("ListViewScores"));
    }
};

QTEST_MAIN(TestWindowKeyboard)
#include "tst_window_keyboard.moc"
