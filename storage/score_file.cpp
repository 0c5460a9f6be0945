#include "score_file.h"
#include "score_reading.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "chart_table.h"

namespace {

constexpr int LineBufferSize = 128;
using LineBuffer = char[LineBufferSize];
constexpr char Separator[] = "----------";

// The whole text at once: nothing is stored from a file that turns out to be too large or
// unreadable, and a text cut short is read again whole. A score file has at most 40 KiB, so the
// first piece mostly holds it all. The stamp is taken once the last byte is read.
bool ReadWhole(FILE *file, ScoreText &text, ScoreFileStatus &status)
{
    constexpr size_t Bound = size_t(MaxScoreFileSize) + 1;  // a byte more tells a file too large
    size_t capacity = 64 * 1024;
    text.bytes.reset(new char[capacity]);
    errno = 0;
    while ((text.length += std::fread(text.bytes.get() + text.length, 1, capacity - text.length, file)) == capacity &&
           capacity < Bound) {
        const size_t larger = capacity * 2 < Bound ? capacity * 2 : Bound;
        std::unique_ptr<char[]> bytes(new char[larger]);
        std::memcpy(bytes.get(), text.bytes.get(), text.length);
        text.bytes = std::move(bytes);
        capacity = larger;
    }
    if (std::ferror(file)) {
        status.refusal = ScoreFileRefusal::Unreadable;
        status.error = errno != 0 ? errno : EIO;
    } else if (text.length > size_t(MaxScoreFileSize)) {
        status.size = -1;  // the file grew past the bound as it was read; how far nobody read
        status.refusal = ScoreFileRefusal::TooLarge;
    }
    text.stamp = StampOf(file);
    std::fclose(file);
    return status.refusal == ScoreFileRefusal::None;
}

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
size_t StartOfText(ScoreText &text)
{
    auto *bytes = reinterpret_cast<unsigned char *>(text.bytes.get());
    const size_t length = text.length;
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
    text.length = out;
    return 0;
}

// The text as fgets reads a stream, with the stream's end-of-file indicator.
struct TextStream {
    const char *at;
    const char *end;
    bool ranIntoEnd = false;
    size_t lineLength = 0;  // the bytes of the last line before its CR and LF run, NULs included
};

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
bool IsAtolSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Parses as atol does (blanks, a sign, digits up to the first other character, 0 without
// digits), but any number of digits is taken modulo 2^64 instead of overflowing, so the low
// 8 or 16 bits the callers keep are those of the number written.
uint64_t ParseLeadingNumber(const char *text)
{
    while (IsAtolSpace(*text))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + static_cast<uint64_t>(*text - '0');
    return negative ? 0 - value : value;
}

// The date stands at positions 0, 3 and 6 of "dd/mm/yyyy"; a piece beyond the end of a short
// line is 0, and nothing past the line's end is read.
void StoreDate(ChartRecord &chart, LineBuffer &line)
{
    size_t length = std::strlen(line);
    if (length > 2)
        line[2] = 0;
    if (length > 5)
        line[5] = 0;
    chart.day = static_cast<uint8_t>(ParseLeadingNumber(line));
    chart.month = static_cast<uint8_t>(length > 3 ? ParseLeadingNumber(line + 3) : 0);
    chart.year = static_cast<uint16_t>(length > 6 ? ParseLeadingNumber(line + 6) : 0);
}

void StoreDpLost(ChartRecord &chart, const LineBuffer &line, LoadMode mode)
{
    auto dpLost = static_cast<uint16_t>(ParseLeadingNumber(line));  // keeps the low 16 bits
    if (mode == LoadMode::Own)
        chart.dpLost = dpLost;
    else
        chart.enemyDpLost = dpLost;
}

// The file is in title order, which is the table's, so a record's chart is mostly the one after
// the last record's: looked at first, it spares comparing the title with the whole table. The
// table holds its titles in strict order, each once, so the chart found there is the one the
// whole table would give; a file out of order still finds every title.
ChartRecord *FindChartAfter(int &expected, const char *title)
{
    ChartRecord *chart = expected < ChartCount && std::strcmp(ChartTable[expected].name, title) == 0
                             ? &ChartTable[expected]
                             : FindChartByName(title);
    if (chart != nullptr)
        expected = int(chart - ChartTable) + 1;
    return chart;
}

// The file is read positionally, four lines a record (title, date, DP lost, separator), and
// never resynchronised on the separator. The text ends cleanly after a whole record, after its
// separator without a line end, or in lines that hold nothing; anywhere else it was cut.
RecordsRead ReadRecords(TextStream &in, LoadMode mode, bool (&named)[ChartCount])
{
    RecordsRead read;
    LineBuffer line{};
    int expected = 0;
    for (;;) {
        ChartRecord *chart = nullptr;
        bool recordHoldsText = false;
        for (int part = 0; part < 4; ++part) {
            if (!ReadLine(in, line)) {
                const bool separatorWhole = part == 3 && std::strcmp(line, Separator) == 0;
                read.cut = (recordHoldsText || in.lineLength > 0) && !separatorWhole;
                return read;
            }
            recordHoldsText = recordHoldsText || in.lineLength > 0;
            if (part == 0) {
                chart = FindChartAfter(expected, line);
            } else if (chart == nullptr) {
                continue;
            } else if (part == 1 && mode == LoadMode::Own) {
                StoreDate(*chart, line);
            } else if (part == 2) {
                ++read.matched;
                named[chart - ChartTable] = true;
                StoreDpLost(*chart, line, mode);
            }
        }
    }
}

// A file of nothing but line ends is as empty as one of no bytes.
bool HoldsText(const char *text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] != '\r' && text[i] != '\n')
            return true;
    return false;
}

}  // namespace

bool ReadScoreText(ScoreFileOpener open, const void *name, ScoreText &text, ScoreFileStatus &status)
{
    status = {};
    text = {};
    FILE *file = open(name, status);
    return file != nullptr && ReadWhole(file, text, status);
}

RecordsRead TakeRecords(ScoreText &text, LoadMode mode, ScoreFileStatus &status, bool (&named)[ChartCount])
{
    std::fill(std::begin(named), std::end(named), false);
    const size_t start = StartOfText(text);
    if (text.length > start && text.bytes[text.length - 1] == '\x1A')
        --text.length;  // the old end-of-file mark (copy /a, old editors) ends the text
    TextStream in{text.bytes.get() + start, text.bytes.get() + text.length};
    RecordsRead read = ReadRecords(in, mode, named);
    if (read.matched == 0 && HoldsText(text.bytes.get() + start, text.length - start))
        status.refusal = ScoreFileRefusal::NamesNoChart;
    status.cut = read.cut;
    return read;
}

bool IsRefusal(const ScoreFileStatus &status)
{
    return status.refusal != ScoreFileRefusal::None && status.refusal != ScoreFileRefusal::Missing;
}

RefusalText DescribeRefusal(const ScoreFileStatus &status)
{
    RefusalText out{};
    switch (status.refusal) {
    case ScoreFileRefusal::None:
    case ScoreFileRefusal::Missing:
        break;
    case ScoreFileRefusal::NotRegular:
        std::snprintf(out.text, sizeof out.text, "%s", FileKindText(status.kind));
        break;
    case ScoreFileRefusal::TooLarge:
        DescribeTooLarge(out.text, sizeof out.text, status.size, MaxScoreFileSize, "score file");
        break;
    case ScoreFileRefusal::Unreadable:
        std::snprintf(out.text, sizeof out.text, "%s", std::strerror(status.error));
        break;
    case ScoreFileRefusal::NamesNoChart:
        std::snprintf(out.text, sizeof out.text, "Holds no record of any chart");
        break;
    case ScoreFileRefusal::StillChanging:
        std::snprintf(out.text, sizeof out.text, "Was still being written by another program");
        break;
    }
    return out;
}

bool LoadScoreFile(const char *fileName, ScoreFileStatus *status)
{
    ScoreFileStatus unused;
    bool named[ChartCount];
    const LoadMode mode = fileName == nullptr ? LoadMode::Own : LoadMode::Comparison;
    const int matched = LoadScores(OpenNamed, fileName == nullptr ? ScoreFileName : fileName, mode,
                                   status != nullptr ? *status : unused, named);
    if (mode == LoadMode::Own)
        NoteOwnLoad(named);
    return matched != 0;
}

#ifdef _WIN32
bool LoadComparisonFile(const wchar_t *fileName, ScoreFileStatus *status)
{
    ScoreFileStatus unused;
    bool named[ChartCount];
    return LoadScores(OpenWideNamed, fileName, LoadMode::Comparison, status != nullptr ? *status : unused, named) != 0;
}
#endif
