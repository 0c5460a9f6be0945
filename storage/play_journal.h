#pragma once

// The play journal: one CSV line for every result Insert stored and for every Insert undone,
// in "Plays.csv" beside the file Scores.txt really is (through a link, the folder of the file it
// points at). Scores.txt keeps one score a chart; the journal keeps them all, with the counts
// they were made of, and the score each one replaced, so that it can be put back.
//
// The program only ever appends to it: one write a batch of whole lines, synced, under the same
// folder lock as the save of Scores.txt. It is never rewritten or shortened here, whatever a
// spreadsheet or an editor did to it. Only a regular file of at most MaxPlayJournalSize is read
// or written; nothing ever waits on a pipe or a device.
//
// The columns, in this order, under a header line naming them:
//   time              local time with its offset, 2026-12-09T14:03:22+01:00
//   title             the chart's title, UTF-8, quoted as RFC 4180 asks where it must be
//   great .. ok       the five counts the result was made of (empty on an undo line)
//   dp_lost           the DP lost now stored for the chart
//   percent, rank     as the window shows them: 98.50, AA
//   replaced_dp_lost  the score the line replaced: its DP lost
//   replaced_date     and its date, 2005-09-06 (0000-00-00 for a chart that had no date)
//   kind              "play" for an Insert, "undo" for an Insert undone
// Each line ends with the system's line end, as Scores.txt does; the reader takes LF and CR LF.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chart_table.h"
#include "file_system.h"

constexpr const char *PlayJournalName = "Plays.csv";

// A year of daily play is about 2 MiB; a file above this bound is no journal of ours (or one
// that would keep a history from opening at once), and it is neither read nor written into.
constexpr int64_t MaxPlayJournalSize = 64 * 1024 * 1024;

// The longest line the program writes: a title of 127 bytes, every one a quote, quoted, and
// every number at its widest, with room to spare.
constexpr size_t MaxPlayLineSize = 512;

enum class PlayKind : uint8_t { Play, Undo };

// One line of the journal, as written or as read back.
struct PlayLine {
    PlayKind kind = PlayKind::Play;
    char time[32] = {};       // as written: 2026-12-09T14:03:22+01:00
    int64_t utcSeconds = 0;   // that time in seconds since 1970-01-01 UTC; for ordering and plots
    uint16_t chart = 0;       // index into ChartTable
    int32_t counts[5] = {};   // Great, Good, Boo, Miss, OK
    bool hasCounts = false;   // false on an undo line
    uint16_t dpLost = 0;
    uint16_t percent = 0;     // hundredths of a percent, 0..10000
    char rank[4] = {};        // AAA, AA, A, B, C, D or E
    uint16_t replacedDpLost = 0;
    uint16_t replacedYear = 0;
    uint8_t replacedMonth = 0;
    uint8_t replacedDay = 0;
};

// The header line, with its "\n".
const char *PlayJournalHeader();

// Formats one line, ending in "\n", into out; yields its length. The title is the chart's name.
size_t FormatPlayLine(const PlayLine &line, char (&out)[MaxPlayLineSize]);

// Where the journal lies, in UTF-8 for a message: PlayJournalName in the folder Scores.txt is
// written into, a relative folder joined to the current directory. The two calls below find it
// themselves, wide on Windows, so that no character of a player's folder is lost on the way.
void PlayJournalPath(char (&path)[PATH_MAX]);

// None: read (or appended to); Missing: no journal yet, nothing played, nothing to report;
// NotRegular: a pipe, a device, a socket, a directory, or a link to one, never opened;
// TooLarge: above MaxPlayJournalSize; Unreadable: opening or reading failed, error says why.
using PlayJournalRefusal = FileRefusal;
using PlayJournalStatus = FileStatus;

// Why the journal was not read or written, for a message to the player ("Is a named pipe").
struct PlayJournalRefusalText {
    char text[PATH_MAX + 128];
};
PlayJournalRefusalText DescribeRefusal(const PlayJournalStatus &status);

// Appends text, whole lines each ending in "\n" (the system's line end in the file), to the
// journal in one write, and syncs
// it. A new or empty file gets the header line first; a file whose last line was cut short (a
// crash during an append) gets a line end first, so that the new lines stand on their own. The
// caller holds the folder's lock. On failure nothing of the text is in the file, as far as the
// system lets that be known, and failure says why.
// refused, when given, is set when the journal itself was refused (what it is, its size):
// that lasts until the player mends it, where a failed write may not.
bool AppendPlayLines(const char *text, size_t length, SaveFailure *failure, PlayJournalRefusal *refused = nullptr);

// What was read of the journal. Kept by the window between reads, so that a journal that only
// grew is parsed again only past what was parsed before; the bytes are still read and compared
// whole every time, since an editor may have changed any of them. They are compared as they
// come, a piece at a time, and only a journal whose bytes changed is read into a new buffer:
// the second read of a large journal then costs little more than the system's copy.
struct PlayJournal {
    std::vector<char> text;        // the file's bytes as last read
    size_t parsedLength = 0;       // bytes of text that lines was parsed from: whole lines only
    std::vector<PlayLine> lines;   // in the file's order; only lines that parsed and named a chart
    uint32_t skippedLines = 0;     // lines that did not parse, or named no chart (the header is not counted)
    bool tornLastLine = false;     // the text ends inside a line, which is skipped, not counted
};

// Reads the journal into journal. A missing file is an empty journal: journal is emptied, and
// the call yields true with status.refusal Missing. A refused one leaves journal as it was and
// yields false, with status telling why. Blank lines are neither lines nor skipped; a line
// whose quoted field holds a line end is taken as two lines that do not parse (the program
// writes no title with one).
bool ReadPlayJournal(PlayJournal &journal, PlayJournalStatus &status);

// Parses text as the journal's whole content, from scratch. Exposed for the fuzzer and the tests.
void ParsePlayJournal(const char *text, size_t length, PlayJournal &journal);

// Takes bytes, the file's whole content, as journal.text, and parses only past parsedLength
// when the bytes parsed before are still the file's first bytes, else all of them again: what
// ReadPlayJournal does with a file whose bytes differ from those kept.
void TakePlayJournalText(PlayJournal &journal, std::vector<char> &&bytes);

// The rest is for the system's own files.

// Reads an opened journal that claimed size bytes through read (the bytes it got into the room
// given; 0 at the end; -1 with status.error set on a failure), and takes the text as
// ReadPlayJournal does: the whole file in one buffer, refused once it grows past the bound.
bool ReadPlayJournalThrough(PlayJournal &journal, PlayJournalStatus &status, int64_t size,
                            const std::function<int64_t(char *, size_t)> &read);

// Fills in failure for an append refused by what the journal is, and yields false.
bool RefuseAppend(const PlayJournalStatus &status, SaveFailure *failure);

// What one append writes into a file of the given size whose last byte is last: the header
// into an empty file, a line end after a torn last line, then the text, each "\n" as the
// system's line end.
std::string PlayJournalAppendBytes(int64_t size, char last, const char *text, size_t length);

// Parses journal.text from parsedLength on, whole lines only.
void ParsePlayJournalTail(PlayJournal &journal);

// AppendPlayLines and ReadPlayJournal for the journal beside owner (see OpenRegularFileBeside),
// which is never owner itself, through a link or under another name.
bool AppendPlayLinesBeside(const char *owner, const char *text, size_t length, SaveFailure *failure,
                           PlayJournalRefusal *refused);
bool ReadPlayJournalBeside(const char *owner, PlayJournal &journal, PlayJournalStatus &status);
