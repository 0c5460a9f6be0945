#include "score_file_text.h"

#include <cstring>

namespace {

// UTF-16 without a mark shows in the first line: a NUL byte after (little-endian) or before
// (big-endian) each of its characters, up to its line feed. One NUL among other bytes is no
// sign of it: the reader takes a title up to its first NUL.
bool IsUnmarkedUtf16(const unsigned char *bytes, size_t length, bool &bigEndian)
{
    bool little = true;
    bool big = true;
    size_t characters = 0;
    for (size_t i = 0; i + 1 < length && (little || big); i += 2, ++characters) {
        little = little && bytes[i] != 0 && bytes[i + 1] == 0;
        big = big && bytes[i] == 0 && bytes[i + 1] != 0;
        if ((little && bytes[i] == '\n') || (big && bytes[i + 1] == '\n'))
            break;
    }
    bigEndian = big;
    return (little || big) && characters > 0;
}

// Editors and shells on Windows write score files with a UTF-8 byte-order mark (Notepad's
// "UTF-8 with BOM") or in UTF-16 (PowerShell 5's ">", Notepad's "Unicode"). Titles and numbers
// are ASCII, so such a file reads as the same text: the mark is skipped, and each UTF-16 code
// unit becomes one byte, as Latin-1, '?' beyond it, which no title holds. Yields where the text
// starts; UTF-16 is turned into bytes in place.
size_t StartOfText(char *text, size_t &textLength)
{
    auto *bytes = reinterpret_cast<unsigned char *>(text);
    const size_t length = textLength;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return 3;
    bool bigEndian = false;
    size_t from = 2;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        bigEndian = false;
    else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        bigEndian = true;
    else if (IsUnmarkedUtf16(bytes, length, bigEndian))
        from = 0;
    else
        return 0;
    size_t out = 0;
    for (size_t i = from; i + 1 < length; i += 2) {  // an odd last byte is half a unit: cut off
        const unsigned unit = bigEndian ? bytes[i] << 8 | bytes[i + 1] : bytes[i + 1] << 8 | bytes[i];
        bytes[out++] = unit <= 0xFF ? static_cast<unsigned char>(unit) : '?';
    }
    textLength = out;
    return 0;
}

}  // namespace

TextStream RecordText(char *bytes, size_t &length)
{
    const size_t start = StartOfText(bytes, length);
    if (length > start && bytes[length - 1] == '\x1A')
        --length;  // the old end-of-file mark (copy /a, old editors) ends the text
    return TextStream{bytes + start, bytes + length};
}

// One line as fgets gives it from a 128-byte buffer: the characters up to and with the next
// line feed, but at most 127 of them; then without its trailing CR and LF run. A piece that ends
// in a CR but not in a LF was cut by the full buffer: its CR may be the first half of a CR LF
// line end, whose LF then belongs to this line and not to the next. False once the read ran
// into the end of the text: that text is not used. A line of exactly 127 characters with no
// line feed does not run into the end; the read after it does.
bool ReadLine(TextStream &in, LineBuffer &line)
{
    constexpr size_t Most = LineBufferSize - 1;
    const size_t available = size_t(in.end - in.at);
    const size_t room = available < Most ? available : Most;
    const void *lineFeed = std::memchr(in.at, '\n', room);
    const size_t taken = lineFeed != nullptr ? size_t(static_cast<const char *>(lineFeed) - in.at) + 1 : room;
    in.ranIntoEnd = lineFeed == nullptr && available < Most;
    std::memcpy(line, in.at, taken);
    line[taken] = 0;
    in.at += taken;
    in.lineLength = taken;
    while (in.lineLength > 0 && (line[in.lineLength - 1] == '\r' || line[in.lineLength - 1] == '\n'))
        --in.lineLength;
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\r' && !in.ranIntoEnd && in.at < in.end && *in.at == '\n')
        ++in.at;
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n'))
        line[--length] = 0;
    return !in.ranIntoEnd;
}

bool HoldsText(const TextStream &in)
{
    for (const char *p = in.at; p < in.end; ++p)
        if (*p != '\r' && *p != '\n')
            return true;
    return false;
}
