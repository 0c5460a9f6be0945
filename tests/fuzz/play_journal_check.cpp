#include "play_journal_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "play_journal.h"

namespace {

std::string Formatted(const PlayJournal &journal)
{
    std::string all;
    char out[MaxPlayLineSize];
    for (const PlayLine &line : journal.lines)
        all.append(out, FormatPlayLine(line, out));
    return all;
}

// Reads text as the file would come to ReadPlayJournal, in pieces of the given size.
void ReadThrough(PlayJournal &journal, const char *text, size_t size, size_t piece)
{
    size_t at = 0;
    PlayJournalStatus status;
    ReadPlayJournalThrough(journal, status, int64_t(size), [&](char *into, size_t room) {
        const size_t length = std::min({room, piece, size - at});
        std::memcpy(into, text + at, length);
        at += length;
        return int64_t(length);
    });
}

std::string Shape(const PlayJournal &journal)
{
    return std::to_string(journal.lines.size()) + " lines, " + std::to_string(journal.skippedLines) + " skipped, " +
           (journal.tornLastLine ? "torn, " : "") + "parsed " + std::to_string(journal.parsedLength);
}

}  // namespace

std::string CheckPlayJournal(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    PlayJournal whole;
    ParsePlayJournal(text, size, whole);
    const size_t parsed = whole.parsedLength;
    if (parsed > size || (parsed > 0 && text[parsed - 1] != '\n') || whole.tornLastLine != (parsed < size) ||
        std::memchr(text + parsed, '\n', size - parsed) != nullptr)
        return "parsed up to no line end: " + Shape(whole);
    for (const PlayLine &line : whole.lines)
        if (line.chart >= ChartCount || line.percent > 10000 || line.hasCounts != (line.kind == PlayKind::Play))
            return "a line out of range was taken";
    const std::string lines = Formatted(whole);
    PlayJournal again;
    ParsePlayJournal(lines.data(), lines.size(), again);
    if (again.skippedLines != 0 || again.tornLastLine || Formatted(again) != lines)
        return "lines written again do not read back: " + Shape(again);
    // The first read saw only a prefix; its length is taken from the input's first byte.
    const size_t prefix = size == 0 ? 0 : size_t(data[0]) * size / 256;
    PlayJournal grown;
    ParsePlayJournal(text, prefix, grown);
    TakePlayJournalText(grown, std::vector<char>(text, text + size));
    if (Shape(grown) != Shape(whole) || Formatted(grown) != lines)
        return "read after a prefix: " + Shape(grown) + " against " + Shape(whole);
    // The same through the reader's own loop; the first read saw, at odd second bytes, a file
    // with one byte more changed than the prefix.
    if (size < 3)
        return {};
    std::vector<char> first(text, text + size);
    if (data[1] % 2 != 0)
        first[data[2] % size] ^= 0x20;
    PlayJournal streamed;
    ReadThrough(streamed, first.data(), prefix, 1 + data[1] % 97);
    ReadThrough(streamed, text, size, 1 + data[2] % 4099);
    if (Shape(streamed) != Shape(whole) || Formatted(streamed) != lines || streamed.text.size() != size ||
        std::memcmp(streamed.text.data(), text, size) != 0)
        return "read again through the reader: " + Shape(streamed) + " against " + Shape(whole);
    return {};
}
