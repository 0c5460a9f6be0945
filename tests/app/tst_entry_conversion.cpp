#include <QtTest>

#include "entry_conversion.h"

class TestEntryConversion : public QObject {
    Q_OBJECT

private slots:
    void converts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("empty is 0") << QString() << 0;
        QTest::newRow("decimal") << QStringLiteral("123") << 123;
        QTest::newRow("leading zeros") << QStringLiteral("007") << 7;
        QTest::newRow("plus sign") << QStringLiteral("+5") << 5;
        QTest::newRow("minus sign") << QStringLiteral("-5") << -5;
        QTest::newRow("leading blanks") << QStringLiteral("  42") << 42;
        QTest::newRow("dollar hex") << QStringLiteral("$1F") << 31;
        QTest::newRow("x hex") << QStringLiteral("xff") << 255;
        QTest::newRow("X hex") << QStringLiteral("XA") << 10;
        QTest::newRow("0x hex") << QStringLiteral("0x10") << 16;
        QTest::newRow("0X hex") << QStringLiteral("0XaB") << 171;
        QTest::newRow("blanks before hex") << QStringLiteral(" $10") << 16;
        QTest::newRow("largest 32-bit") << QStringLiteral("2147483647") << 2147483647;
        QTest::newRow("smallest 32-bit") << QStringLiteral("-2147483648") << int(-2147483647 - 1);
        QTest::newRow("hex at the 32-bit limit wraps to -1") << QStringLiteral("$FFFFFFFF") << -1;
        QTest::newRow("hex 80000000 is the smallest") << QStringLiteral("0x80000000") << int(-2147483647 - 1);
        QTest::newRow("minus zero") << QStringLiteral("-0") << 0;
        QTest::newRow("plus sign at the 32-bit limit") << QStringLiteral("+2147483647") << 2147483647;
        QTest::newRow("leading zeros before the 32-bit limit") << QStringLiteral("000000000002147483647") << 2147483647;
        QTest::newRow("blanks then a sign") << QStringLiteral("  -42") << -42;
        QTest::newRow("x hex at the signed limit") << QStringLiteral("x7FFFFFFF") << 2147483647;
        QTest::newRow("hex one above the signed limit wraps") << QStringLiteral("$80000001") << -2147483647;
        QTest::newRow("hex leading zeros beyond eight digits") << QStringLiteral("$000000001") << 1;
        QTest::newRow("0x0 is 0") << QStringLiteral("0x0") << 0;
    }

    void converts()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(ConvertEntryText(text), value);
    }

    void rejects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << QStringLiteral("abc");
        QTest::newRow("trailing blank") << QStringLiteral("12 ");
        QTest::newRow("only blanks") << QStringLiteral("   ");
        QTest::newRow("sign alone") << QStringLiteral("-");
        QTest::newRow("blank after sign") << QStringLiteral("- 5");
        QTest::newRow("digits then letters") << QStringLiteral("12ab");
        QTest::newRow("hex prefix alone") << QStringLiteral("$");
        QTest::newRow("0x alone") << QStringLiteral("0x");
        QTest::newRow("signed hex") << QStringLiteral("-$10");
        QTest::newRow("hex digit out of range") << QStringLiteral("$1G");
        QTest::newRow("one above the 32-bit limit") << QStringLiteral("2147483648");
        QTest::newRow("one below the 32-bit limit") << QStringLiteral("-2147483649");
        QTest::newRow("hex beyond 32 bits") << QStringLiteral("$100000000");
        QTest::newRow("many digits") << QStringLiteral("99999999999999999999");
        QTest::newRow("decimal point") << QStringLiteral("1.5");
        QTest::newRow("other digits than ASCII") << QStringLiteral("\u0661\u0662");
        QTest::newRow("tab before digits") << QStringLiteral("\t5");
        QTest::newRow("two signs") << QStringLiteral("+-5");
        QTest::newRow("double minus") << QStringLiteral("--5");
        QTest::newRow("sign before a hex prefix") << QStringLiteral("+$5");
        QTest::newRow("sign after the dollar") << QStringLiteral("$-1");
        QTest::newRow("sign after 0x") << QStringLiteral("0x-5");
        QTest::newRow("blank inside the 0x prefix") << QStringLiteral("0 x5");
        QTest::newRow("blank after the dollar") << QStringLiteral("$ 5");
        QTest::newRow("x alone") << QStringLiteral("x");
        QTest::newRow("X alone") << QStringLiteral("X");
        QTest::newRow("0X alone") << QStringLiteral("0X");
        QTest::newRow("two hex prefixes") << QStringLiteral("0x$5");
        QTest::newRow("leading zeros before one above the limit") << QStringLiteral("0000000002147483648");
        QTest::newRow("nine significant hex digits") << QStringLiteral("0x1FFFFFFFF");
        QTest::newRow("far below the 32-bit limit") << QStringLiteral("-99999999999");
        QTest::newRow("NUL between digits, pasted") << QString::fromLatin1("1\0" "2", 3);
    }

    void rejects()
    {
        QFETCH(QString, text);
        try {
            ConvertEntryText(text);
            QFAIL("no conversion error");
        } catch (const EConvertError &error) {
            QCOMPARE(error.Message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestEntryConversion)
#include "tst_entry_conversion.moc"
