// The journal's lines: the columns formatted, and parsed back from a file that a spreadsheet or
// an editor may have changed.

#include "play_journal.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char Header[] =
    "time,title,great,good,boo,miss,ok,dp_lost,percent,rank,replaced_dp_lost,replaced_date,kind\n";
constexpr size_t HeaderLength = sizeof Header - 2;  // without its "\n"
constexpr int ColumnCount = 13;
constexpr uint16_t FullPercent = 10000;

// The 256 titles by a hash, so that a line costs one look-up rather than a comparison with
// every title. Built for each parse, from the names as they are then: it takes a few
// microseconds, and a table of other charts needs no index of its own.
class TitleIndex {
public:
    TitleIndex()
    {
        for (uint16_t chart = 0; chart < ChartCount; ++chart) {
            const size_t length = std::strlen(ChartTable[chart].name);
            uint32_t slot = Hash(ChartTable[chart].name, length) & (SlotCount - 1);
            while (slots_[slot] != 0)
                slot = (slot + 1) & (SlotCount - 1);
            slots_[slot] = uint16_t(chart + 1);
            lengths_[chart] = uint8_t(length);
        }
    }

    // The chart's index, or -1.
    int Find(const char *title, size_t length) const
    {
        for (uint32_t slot = Hash(title, length) & (SlotCount - 1); slots_[slot] != 0;
             slot = (slot + 1) & (SlotCount - 1)) {
            const int chart = slots_[slot] - 1;
            if (lengths_[chart] == length && std::memcmp(ChartTable[chart].name, title, length) == 0)
                return chart;
        }
        return -1;
    }

private:
    static constexpr uint32_t SlotCount = 1024;  // a quarter full: probes stay short

    // The length and the first and last four bytes: a few instructions for any title, and
    // titles that share them only probe once more.
    static uint32_t Hash(const char *text, size_t length)
    {
        uint32_t head = 0, tail = 0;
        if (length >= 4) {
            std::memcpy(&head, text, 4);
            std::memcpy(&tail, text + length - 4, 4);
        } else {
            for (size_t i = 0; i < length; ++i)
                head = head << 8 | uint8_t(text[i]);
        }
        const uint64_t mixed = (uint64_t(head) << 32 | tail) * 0x9E3779B97F4A7C15u + length;
        return uint32_t(mixed >> 32) ^ uint32_t(mixed >> 7);
    }

    uint16_t slots_[SlotCount] = {};  // chart + 1; 0 is an empty slot
    uint8_t lengths_[ChartCount] = {};
};

struct Field {
    const char *begin;
    const char *end;
    size_t size() const { return size_t(end - begin); }
    template <size_t N> bool Is(const char (&text)[N]) const
    {
        return size() == N - 1 && std::memcmp(begin, text, N - 1) == 0;
    }
};

// A plain decimal of 1 to maxDigits digits, no sign, no space.
bool ParseDecimal(const char *begin, const char *end, int maxDigits, uint32_t &value)
{
    if (begin == end || end - begin > maxDigits)
        return false;
    value = 0;
    for (const char *p = begin; p < end; ++p) {
        const uint32_t digit = uint32_t(uint8_t(*p)) - '0';  // a byte below '0' wraps above 9
        if (digit > 9)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParseDecimal(const Field &field, int maxDigits, uint32_t &value)
{
    return ParseDecimal(field.begin, field.end, maxDigits, value);
}

bool ParseDpLost(const Field &field, uint16_t &value)
{
    uint32_t parsed = 0;
    if (!ParseDecimal(field, 5, parsed) || parsed > 65535)
        return false;
    value = uint16_t(parsed);
    return true;
}

// 98.50, and also 98.5 or 98 as a spreadsheet may save it.
bool ParsePercent(const Field &field, uint16_t &hundredths)
{
    const char *dot = static_cast<const char *>(std::memchr(field.begin, '.', field.size()));
    const char *wholeEnd = dot != nullptr ? dot : field.end;
    uint32_t whole = 0, fraction = 0;
    if (!ParseDecimal(field.begin, wholeEnd, 3, whole))
        return false;
    if (dot != nullptr) {
        const long digits = field.end - dot - 1;
        if (!ParseDecimal(dot + 1, field.end, 2, fraction))
            return false;
        if (digits == 1)
            fraction *= 10;
    }
    const uint32_t value = whole * 100 + fraction;
    if (value > FullPercent)
        return false;
    hundredths = uint16_t(value);
    return true;
}

// AAA, AA, A, B, C, D or E.
bool ParseRank(const Field &field, char (&rank)[4])
{
    const size_t size = field.size();
    const char first = size > 0 ? field.begin[0] : 0;
    if (!(size == 1 && first >= 'A' && first <= 'E') && !field.Is("AA") && !field.Is("AAA"))
        return false;
    std::memcpy(rank, field.begin, size);
    rank[size] = 0;
    return true;
}

// The number that count digits make, or -1 where one is no digit.
inline int Digits(const char *text, int count)
{
    int value = 0;
    bool digits = true;
    for (int i = 0; i < count; ++i) {
        const unsigned digit = unsigned(uint8_t(text[i])) - '0';
        digits &= digit <= 9;
        value = value * 10 + int(digit);
    }
    return digits ? value : -1;
}

bool ParseDate(const Field &field, PlayLine &line)
{
    const char *d = field.begin;
    if (field.size() != 10 || d[4] != '-' || d[7] != '-')
        return false;
    const int year = Digits(d, 4), month = Digits(d + 5, 2), day = Digits(d + 8, 2);
    if (year < 0 || month < 0 || day < 0)
        return false;
    line.replacedYear = uint16_t(year);
    line.replacedMonth = uint8_t(month);
    line.replacedDay = uint8_t(day);
    return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return int64_t(era) * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month)
{
    static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : Days[month - 1];
}

// 2026-12-09T14:03:22+01:00, -05:30 or Z.
bool ParseTime(const Field &field, PlayLine &line)
{
    const char *t = field.begin;
    const size_t size = field.size();
    if ((size != 20 && size != 25) || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
        return false;
    const int year = Digits(t, 4), month = Digits(t + 5, 2), day = Digits(t + 8, 2);
    const int hour = Digits(t + 11, 2), minute = Digits(t + 14, 2), second = Digits(t + 17, 2);
    if (year < 0 || hour < 0 || minute < 0 || second < 0 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60)
        return false;
    int offsetMinutes = 0;
    if (size == 20) {
        if (t[19] != 'Z')
            return false;
    } else {
        const char *o = t + 19;
        const int hours = Digits(o + 1, 2), minutes = Digits(o + 4, 2);
        if ((o[0] != '+' && o[0] != '-') || o[3] != ':' || hours < 0 || minutes < 0 || hours > 18 || minutes > 59)
            return false;
        offsetMinutes = (o[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    }
    line.utcSeconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
                      int64_t(offsetMinutes) * 60;
    std::memcpy(line.time, t, size);
    line.time[size] = 0;
    return true;
}

// Splits a line (without its line end) into fields. titleText points at the title: where it
// stands, or, quoted, at title, where its doubled quotes are undone. Yields the number of
// fields, at most ColumnCount (the rest of a longer line, columns of a later version, is
// ignored), or -1 where the quoting is broken.
int SplitFields(const char *begin, const char *end, Field (&fields)[ColumnCount], char (&title)[ChartNameSize],
                const char *&titleText, size_t &titleLength)
{
    int count = 0;
    const char *p = begin;
    titleLength = 0;
    while (count < ColumnCount) {
        Field &field = fields[count];
        if (p < end && *p == '"') {
            const char *quote = p;
            // Only the title is ever quoted by the writer; any field may be by a spreadsheet.
            size_t length = 0;
            bool closed = false;
            for (++p; p < end; ++p) {
                if (*p == '"') {
                    if (p + 1 < end && p[1] == '"') {
                        ++p;
                    } else {
                        closed = true;
                        ++p;
                        break;
                    }
                }
                if (count == 1 && length < sizeof title - 1)
                    title[length] = *p;
                ++length;
            }
            if (!closed || (p < end && *p != ','))
                return -1;
            if (count == 1) {
                titleText = title;
                titleLength = length;  // longer than the buffer: no chart's title, found by no look-up
            }
            field = {quote, p};  // quotes and all: a quoted number or kind parses as none
        } else {
            const char *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
            field = {p, comma != nullptr ? comma : end};
            if (count == 1) {
                titleText = p;  // as it stands: no copy
                titleLength = field.size();
            }
            p = field.end;
        }
        ++count;
        if (p == end)
            break;
        ++p;  // the comma
        if (p == end && count < ColumnCount)
            fields[count++] = {end, end};  // a last empty field
    }
    return count;
}

bool ParseLine(const TitleIndex &titles, const char *begin, const char *end, PlayLine &line)
{
    Field fields[ColumnCount];
    char title[ChartNameSize];
    const char *titleText = title;
    size_t titleLength = 0;
    if (SplitFields(begin, end, fields, title, titleText, titleLength) != ColumnCount)
        return false;
    if (fields[12].Is("play"))
        line.kind = PlayKind::Play;
    else if (fields[12].Is("undo"))
        line.kind = PlayKind::Undo;
    else
        return false;
    const int chart = titleLength < ChartNameSize ? titles.Find(titleText, titleLength) : -1;
    if (chart < 0 || !ParseTime(fields[0], line))
        return false;
    line.chart = uint16_t(chart);
    line.hasCounts = line.kind == PlayKind::Play;
    for (int i = 0; i < 5; ++i) {
        const Field &count = fields[2 + i];
        uint32_t value = 0;
        if (line.hasCounts ? !ParseDecimal(count, 9, value) : count.size() != 0)
            return false;
        line.counts[i] = int32_t(value);
    }
    return ParseDpLost(fields[7], line.dpLost) && ParsePercent(fields[8], line.percent) &&
           ParseRank(fields[9], line.rank) && ParseDpLost(fields[10], line.replacedDpLost) &&
           ParseDate(fields[11], line);
}

bool IsHeader(const char *begin, const char *end)
{
    return size_t(end - begin) == HeaderLength && std::memcmp(begin, Header, HeaderLength) == 0;
}

}  // namespace

void ParsePlayJournalTail(PlayJournal &journal)
{
    const char *text = journal.text.data();
    const char *end = text + journal.text.size();
    const char *p = text + journal.parsedLength;
    if (journal.lines.empty())
        journal.lines.reserve(size_t(end - p) / 64 + 1);  // written lines are longer: one allocation
    const TitleIndex titles;
    while (p < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (lineEnd == nullptr)
            break;
        const char *content = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        const bool header = p == text && IsHeader(p, content);
        // Blank lines, such as a spreadsheet leaves at the end, hold nothing to count.
        if (!header && content > p) {
            // Parsed where it is kept: no copy of a line that parsed.
            if (!ParseLine(titles, p, content, journal.lines.emplace_back())) {
                journal.lines.pop_back();
                ++journal.skippedLines;
            }
        }
        p = lineEnd + 1;
    }
    journal.parsedLength = size_t(p - text);
    journal.tornLastLine = p < end;
}

namespace {

bool NeedsQuotes(const char *title)
{
    return std::strpbrk(title, ",\"\r\n") != nullptr;
}

}  // namespace

const char *PlayJournalHeader()
{
    return Header;
}

size_t FormatPlayLine(const PlayLine &line, char (&out)[MaxPlayLineSize])
{
    const char *name = line.chart < ChartCount ? ChartTable[line.chart].name : "";
    char title[2 * ChartNameSize + 3];
    size_t t = 0;
    const bool quoted = NeedsQuotes(name);
    if (quoted)
        title[t++] = '"';
    for (const char *p = name; *p != 0 && t < sizeof title - 3; ++p) {
        if (*p == '"')
            title[t++] = '"';
        title[t++] = *p;
    }
    if (quoted)
        title[t++] = '"';
    title[t] = 0;
    char counts[64] = ",,,,";
    if (line.hasCounts)
        std::snprintf(counts, sizeof counts, "%ld,%ld,%ld,%ld,%ld", long(line.counts[0]), long(line.counts[1]),
                      long(line.counts[2]), long(line.counts[3]), long(line.counts[4]));
    const int written = std::snprintf(
        out, sizeof out, "%.31s,%s,%s,%u,%u.%02u,%.3s,%u,%04u-%02u-%02u,%s\n", line.time, title, counts,
        unsigned(line.dpLost), unsigned(line.percent / 100), unsigned(line.percent % 100), line.rank,
        unsigned(line.replacedDpLost), unsigned(line.replacedYear), unsigned(line.replacedMonth),
        unsigned(line.replacedDay), line.kind == PlayKind::Undo ? "undo" : "play");
    return written < 0 ? 0 : written >= int(sizeof out) ? sizeof out - 1 : size_t(written);
}

void ParsePlayJournal(const char *text, size_t length, PlayJournal &journal)
{
    journal = PlayJournal{};
    journal.text.assign(text, text + length);
    ParsePlayJournalTail(journal);
}

void TakePlayJournalText(PlayJournal &journal, std::vector<char> &&bytes)
{
    const size_t kept = journal.parsedLength;
    const bool grewOnly = kept > 0 && kept <= bytes.size() && kept <= journal.text.size() &&
                          std::memcmp(journal.text.data(), bytes.data(), kept) == 0;
    if (!grewOnly) {
        journal.lines.clear();
        journal.parsedLength = 0;
        journal.skippedLines = 0;
    }
    journal.text = std::move(bytes);
    ParsePlayJournalTail(journal);
}
