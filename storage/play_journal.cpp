// The play journal's file: read whole and compared with what was read before, appended to in
// whole lines; the system's calls in play_journal_posix.cpp and play_journal_windows.cpp.

#include "play_journal.h"

#include "score_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

PlayJournalRefusalText DescribeRefusal(const PlayJournalStatus &status)
{
    PlayJournalRefusalText out{};
    DescribeFileRefusal(status, MaxPlayJournalSize, "play journal", out.text, sizeof out.text);
    return out;
}

void PlayJournalPath(char (&path)[PATH_MAX])
{
    ShownPathBeside(ScoreFileName, PlayJournalName, path);
}

bool AppendPlayLines(const char *text, size_t length, SaveFailure *failure, PlayJournalRefusal *refused)
{
    return AppendPlayLinesBeside(ScoreFileName, text, length, failure, refused);
}

bool ReadPlayJournal(PlayJournal &journal, PlayJournalStatus &status)
{
    return ReadPlayJournalBeside(ScoreFileName, journal, status);
}

std::string PlayJournalAppendBytes(int64_t size, char last, const char *text, size_t length)
{
    std::string lines;
    lines.reserve(std::strlen(PlayJournalHeader()) + 1 + length);
    if (size == 0)
        lines.append(PlayJournalHeader());
    else if (last != '\n')
        lines.push_back('\n');
    lines.append(text, length);
    return WithSystemLineEnds(lines.data(), lines.size());
}

namespace {

// A journal is compared with what was kept this much at a time: small enough to stay in the
// cache, large enough that the reads cost little.
constexpr size_t ComparedPieceSize = 64 * 1024;

// Reads the rest of the file into bytes from total on; false, with status telling why, when
// reading failed or the file grew past the bound.
bool ReadRest(std::vector<char> &bytes, size_t total, PlayJournalStatus &status, int64_t size,
              const std::function<int64_t(char *, size_t)> &read)
{
    // One byte more than the file holds, so that the end shows without growing the buffer.
    bytes.resize(std::max(total, size_t(size)) + 1);
    for (;;) {
        if (total == bytes.size() && total > size_t(MaxPlayJournalSize))
            break;
        if (total == bytes.size())
            bytes.resize(std::min(bytes.size() * 2, size_t(MaxPlayJournalSize) + 1));
        const int64_t got = read(bytes.data() + total, bytes.size() - total);
        if (got < 0) {
            status.refusal = PlayJournalRefusal::Unreadable;
            return false;
        }
        if (got == 0)
            break;
        total += size_t(got);
    }
    if (total > size_t(MaxPlayJournalSize)) {
        status.refusal = PlayJournalRefusal::TooLarge;
        status.size = -1;  // grew past the bound as it was read
        return false;
    }
    bytes.resize(total);
    status.size = int64_t(total);
    return true;
}

}  // namespace

// The bytes are compared with the kept text as they come, so that a journal that did not
// change, or only grew, is read again without a second buffer of its size: no memory of its
// own to fault in, which would take longer than the read itself.
bool ReadPlayJournalThrough(PlayJournal &journal, PlayJournalStatus &status, int64_t size,
                            const std::function<int64_t(char *, size_t)> &read)
{
    std::vector<char> &kept = journal.text;
    const size_t keptSize = kept.size();
    const std::unique_ptr<char[]> piece(new char[ComparedPieceSize]);
    size_t total = 0;
    int64_t got = 0;
    while (total < keptSize) {
        got = read(piece.get(), std::min(ComparedPieceSize, keptSize - total));
        if (got < 0) {
            status.refusal = PlayJournalRefusal::Unreadable;
            return false;
        }
        if (got == 0 || std::memcmp(piece.get(), kept.data() + total, size_t(got)) != 0)
            break;
        total += size_t(got);
    }
    if (total == keptSize) {
        if (!ReadRest(kept, total, status, size, read)) {
            kept.resize(keptSize);
            return false;
        }
        ParsePlayJournalTail(journal);  // what was parsed before is still the file's beginning
        return true;
    }
    // Changed or shortened: a buffer of its own, the journal as it was until it is read whole.
    std::vector<char> bytes;
    bytes.reserve(size_t(size) + 1);
    bytes.assign(kept.data(), kept.data() + total);
    bytes.insert(bytes.end(), piece.get(), piece.get() + got);
    if (!ReadRest(bytes, bytes.size(), status, size, read))
        return false;
    TakePlayJournalText(journal, std::move(bytes));
    return true;
}

bool RefuseAppend(const PlayJournalStatus &status, SaveFailure *failure)
{
    const int error = status.refusal == PlayJournalRefusal::Unreadable ? status.error
                      : status.refusal == PlayJournalRefusal::TooLarge ? EFBIG
                                                                        : EINVAL;
    return SaveFailed(failure, error, DescribeRefusal(status).text);
}
