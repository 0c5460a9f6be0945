#include "score_file.h"
#include "score_reading.h"
#include "score_file_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "chart_table.h"

namespace {

constexpr char Separator[] = "----------";

// The file layer's refusals are the first of the score file's, in the same order.
static_assert(int(ScoreFileRefusal::None) == int(FileRefusal::None) &&
              int(ScoreFileRefusal::Missing) == int(FileRefusal::Missing) &&
              int(ScoreFileRefusal::NotRegular) == int(FileRefusal::NotRegular) &&
              int(ScoreFileRefusal::TooLarge) == int(FileRefusal::TooLarge) &&
              int(ScoreFileRefusal::Unreadable) == int(FileRefusal::Unreadable));

FILE *TakeOpenStatus(FILE *file, const FileStatus &opened, ScoreFileStatus &status)
{
    status.refusal = ScoreFileRefusal(opened.refusal);
    status.error = opened.error;
    status.kind = opened.kind;
    status.size = opened.size;
    return file;
}

// Only for a refusal the file layer knows.
FileStatus AsFileStatus(const ScoreFileStatus &status)
{
    return {FileRefusal(status.refusal), status.error, status.kind, status.size};
}

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

}  // namespace

FILE *OpenNamed(const void *name, ScoreFileStatus &status)
{
    FileStatus opened;
    FILE *file = OpenRegularFile(static_cast<const char *>(name), MaxScoreFileSize, opened);
    return TakeOpenStatus(file, opened, status);
}

#ifdef _WIN32
FILE *OpenWideNamed(const void *name, ScoreFileStatus &status)
{
    FileStatus opened;
    FILE *file = OpenRegularFile(static_cast<const wchar_t *>(name), MaxScoreFileSize, opened);
    return TakeOpenStatus(file, opened, status);
}
#endif

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
    TextStream in = RecordText(text.bytes.get(), text.length);
    const TextStream whole = in;
    RecordsRead read = ReadRecords(in, mode, named);
    if (read.matched == 0 && HoldsText(whole))
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
    case ScoreFileRefusal::TooLarge:
    case ScoreFileRefusal::Unreadable:
        DescribeFileRefusal(AsFileStatus(status), MaxScoreFileSize, "score file", out.text, sizeof out.text);
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
