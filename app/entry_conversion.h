#pragma once

#include <cstdint>
#include <stdexcept>

#include <QString>

// Raised for entry text that is not an integer. Message() is what the error box shows: pasted
// text may hold a NUL character, which would end what() early.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const QString &text);
    const QString &Message() const { return message; }

private:
    QString message;
};

// An entry field's text as a signed 32-bit count: empty is 0; optional leading blanks, then
// a signed decimal or a hexadecimal number after "$", "x", "X", "0x" or "0X", and nothing after.
int32_t ConvertEntryText(const QString &text);
