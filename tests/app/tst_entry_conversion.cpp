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
    }

    void rejects()
    {
        QFETCH(QString, text);
        try {
            ConvertEntryText(text);
            QFAIL("no conversion error");
        } catch (const EConvertError &error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestEntryConversion)
#include "tst_entry_conversion.moc"
