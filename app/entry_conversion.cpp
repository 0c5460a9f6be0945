#include "entry_conversion.h"

namespace {

int HexDigitValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

bool ParseHex(QStringView digits, int32_t &value)
{
    if (digits.isEmpty())
        return false;
    uint64_t magnitude = 0;
    for (QChar c : digits) {
        int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        magnitude = magnitude * 16 + static_cast<uint64_t>(digit);
        if (magnitude > UINT32_MAX)
            return false;
    }
    value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));  // $FFFFFFFF is -1
    return true;
}

bool ParseDecimal(QStringView text, int32_t &value)
{
    bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+'))
        text = text.mid(1);
    if (text.isEmpty())
        return false;
    int64_t magnitude = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > int64_t(INT32_MAX) + 1)
            return false;
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX)
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

bool StripHexPrefix(QStringView &text)
{
    for (QStringView prefix : {u"0x", u"0X", u"$", u"x", u"X"}) {
        if (text.startsWith(prefix)) {
            text = text.mid(prefix.size());
            return true;
        }
    }
    return false;
}

QString NotAnIntegerMessage(const QString &text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

}  // namespace

EConvertError::EConvertError(const QString &text)
    : std::runtime_error(NotAnIntegerMessage(text).toStdString()), message(NotAnIntegerMessage(text))
{
}

int32_t ConvertEntryText(const QString &text)
{
    if (text.isEmpty())
        return 0;
    QStringView rest(text);
    while (rest.startsWith(u' '))
        rest = rest.mid(1);
    int32_t value = 0;
    bool converted = StripHexPrefix(rest) ? ParseHex(rest, value) : ParseDecimal(rest, value);
    if (!converted)
        throw EConvertError(text);
    return value;
}
