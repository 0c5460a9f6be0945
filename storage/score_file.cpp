#include "score_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "atomic_file.h"
#include "chart_table.h"

namespace {

constexpr int LineBufferSize = 128;
using LineBuffer = char[LineBufferSize];

enum class LoadMode { Own, Comparison };

// One line as fgets gives it, at most 127 characters, without its trailing CR and LF run.
// False once the read ran into the end of the file (or failed): that text is not used.
bool ReadLine(FILE *stream, LineBuffer &line)
{
    if (std::fgets(line, LineBufferSize, stream) == nullptr)
        line[0] = 0;
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n'))
        line[--length] = 0;
    return !std::feof(stream) && !std::ferror(stream);
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

// The file is read positionally, four lines a record (title, date, DP lost, separator), and
// never resynchronised on the separator.
int ReadRecords(FILE *stream, LoadMode mode)
{
    int matched = 0;
    LineBuffer line{};
    for (;;) {
        if (!ReadLine(stream, line))
            return matched;
        ChartRecord *chart = FindChartByName(line);

        if (!ReadLine(stream, line))
            return matched;
        if (chart != nullptr && mode == LoadMode::Own)
            StoreDate(*chart, line);

        if (!ReadLine(stream, line))
            return matched;
        if (chart != nullptr) {
            ++matched;
            StoreDpLost(*chart, line, mode);
        }

        if (!ReadLine(stream, line))
            return matched;
    }
}

// A day or month is two characters in the file, so the reader can find "-1" to "-9" there and
// keeps their low 8 bits, 255 to 247. Printed back as a signed byte such a value reads the same
// again ("-1"), instead of as "255", whose third digit would shift every later piece of the
// line; 0 to 99 print exactly as before.
int DatePieceValue(uint8_t piece)
{
    return static_cast<int8_t>(piece);  // 128..255 wrap to -128..-1
}

}  // namespace

bool LoadScoreFile(const char *fileName)
{
    LoadMode mode = fileName == nullptr ? LoadMode::Own : LoadMode::Comparison;
    FILE *stream = std::fopen(fileName == nullptr ? ScoreFileName : fileName, "r");
    if (stream == nullptr)
        return false;
    int matched = ReadRecords(stream, mode);
    std::fclose(stream);
    return matched != 0;
}

bool SaveScoreFile(int *failureErrno)
{
    AtomicFileWriter file(ScoreFileName);
    for (const ChartRecord &chart : ChartTable) {
        file.Print("%s\n", chart.name);
        file.Print("%02d/%02d/%04d\n", DatePieceValue(chart.day), DatePieceValue(chart.month), chart.year);
        file.Print("%d\n", chart.dpLost);
        file.Print("----------\n");
    }
    bool saved = file.Commit();
    if (!saved && failureErrno != nullptr)
        *failureErrno = file.Error();
    return saved;
}
