#include "score_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>


#include "atomic_file.h"
#include "chart_table.h"
#include "dp_scoring.h"

namespace {

constexpr int LineBufferSize = 128;
using LineBuffer = char[LineBufferSize];

enum class LoadMode { Own, Comparison };

// A piece that ends in a CR but not in a LF was cut by the full buffer: its CR may be the first
// half of a CR LF line end, whose LF then belongs to this line and not to the next. A peek that
// runs into the end of the file leaves the end to be found by the next read, as before.
void ConsumeLineFeedAfterCut(FILE *stream)
{
    if (std::feof(stream) || std::ferror(stream))
        return;
    int next = std::getc(stream);
    if (next == '\n')
        return;
    if (next != EOF)
        std::ungetc(next, stream);
    else if (!std::ferror(stream))
        std::clearerr(stream);
}

// The stream with what the reader needs to know of it on the way.
struct ScoreStream {
    FILE *file;
    unsigned pieces = 0;
    bool grewTooLarge = false;
};

// A regular file can still grow while it is read. Every 64 pieces, at most 8 KiB, the reader
// asks how far it has come and stops once that is past the bound.
bool PastSizeBound(ScoreStream &in)
{
    constexpr unsigned PiecesBetweenChecks = 64;
    if (++in.pieces % PiecesBetweenChecks != 0)
        return false;
    in.grewTooLarge = std::ftell(in.file) > MaxScoreFileSize;
    return in.grewTooLarge;
}

// One line as fgets gives it, at most 127 characters, without its trailing CR and LF run.
// False once the read ran into the end of the file (or failed): that text is not used.
bool ReadLine(ScoreStream &in, LineBuffer &line)
{
    if (std::fgets(line, LineBufferSize, in.file) == nullptr)
        line[0] = 0;
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\r')
        ConsumeLineFeedAfterCut(in.file);
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n'))
        line[--length] = 0;
    return !std::feof(in.file) && !std::ferror(in.file) && !PastSizeBound(in);
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
int ReadRecords(ScoreStream &stream, LoadMode mode)
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

struct OwnScore {
    uint16_t dpLost;
    uint8_t day;
    uint8_t month;
    uint16_t year;
};

OwnScore OwnScoreOf(const ChartRecord &chart)
{
    return {chart.dpLost, chart.day, chart.month, chart.year};
}

void PutBack(ChartRecord &chart, const OwnScore &score)
{
    chart.dpLost = score.dpLost;
    chart.day = score.day;
    chart.month = score.month;
    chart.year = score.year;
}

bool operator==(const OwnScore &a, const OwnScore &b)
{
    return a.dpLost == b.dpLost && a.day == b.day && a.month == b.month && a.year == b.year;
}

uint32_t DateKey(const OwnScore &score)
{
    return uint32_t(score.year) << 16 | uint32_t(score.month) << 8 | score.day;
}

// Fewer DP lost wins, a loss above maxDp counting as all of it; on a tie the later date.
bool IsBetter(const OwnScore &a, const OwnScore &b, uint16_t maxDp)
{
    const uint16_t lostA = CappedLoss(maxDp, a.dpLost);
    const uint16_t lostB = CappedLoss(maxDp, b.dpLost);
    return lostA != lostB ? lostA < lostB : DateKey(a) > DateKey(b);
}

}  // namespace

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
        if (status.size < 0)
            std::snprintf(out.text, sizeof out.text, "Is more than %lld bytes long, far more than any score file",
                          static_cast<long long>(MaxScoreFileSize));
        else
            std::snprintf(out.text, sizeof out.text, "Is %lld bytes long, far more than any score file",
                          static_cast<long long>(status.size));
        break;
    case ScoreFileRefusal::Unreadable:
        std::snprintf(out.text, sizeof out.text, "%s", std::strerror(status.error));
        break;
    }
    return out;
}

bool LoadScoreFile(const char *fileName, ScoreFileStatus *status)
{
    ScoreFileStatus unused;
    ScoreFileStatus &result = status != nullptr ? *status : unused;
    result = {};
    LoadMode mode = fileName == nullptr ? LoadMode::Own : LoadMode::Comparison;
    ScoreStream stream{OpenRegularFile(fileName == nullptr ? ScoreFileName : fileName, result)};
    if (stream.file == nullptr)
        return false;
    int matched = ReadRecords(stream, mode);
    if (stream.grewTooLarge) {
        result.size = -1;  // more than the bound; how much more nobody read
        result.refusal = ScoreFileRefusal::TooLarge;
    } else if (std::ferror(stream.file)) {
        result.refusal = ScoreFileRefusal::Unreadable;
        result.error = errno != 0 ? errno : EIO;
    }
    std::fclose(stream.file);
    return matched != 0;
}

bool MergeOwnScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status)
{
    OwnScore before[ChartCount];
    for (int i = 0; i < ChartCount; ++i) {
        before[i] = OwnScoreOf(ChartTable[i]);
        ClearOwnScore(ChartTable[i]);
    }
    // A file that names no chart at all (empty, or caught between an editor's truncation and
    // its write) is no reason to drop every score either.
    const bool namedAChart = LoadScoreFile(nullptr, &status);
    const bool keepAll = !namedAChart || status.refusal != ScoreFileRefusal::None;
    bool changed = false;
    for (int i = 0; i < ChartCount; ++i) {
        ChartRecord &chart = ChartTable[i];
        const OwnScore fromFile = OwnScoreOf(chart);
        const bool keepOwn = keepAll || (unsaved[i] && IsBetter(before[i], fromFile, chart.maxDp));
        if (keepOwn)
            PutBack(chart, before[i]);
        else
            unsaved[i] = false;
        changed = changed || !(OwnScoreOf(chart) == before[i]);
    }
    return changed;
}

bool SaveScoreFile(SaveFailure *failure)
{
    AtomicFileWriter file(ScoreFileName, SpecialTarget::Refuse);
    for (const ChartRecord &chart : ChartTable) {
        file.Print("%s\n", chart.name);
        file.Print("%02d/%02d/%04d\n", DatePieceValue(chart.day), DatePieceValue(chart.month), chart.year);
        file.Print("%d\n", chart.dpLost);
        file.Print("----------\n");
    }
    return file.Commit(failure);
}
