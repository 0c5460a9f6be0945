#pragma once

#include <cstdint>

#include "atomic_file.h"
#include "chart_table.h"

constexpr const char *ScoreFileName = "Scores.txt";

// No score file can pass 40 KiB: 256 records of at most a 127-byte title, a 17-byte date, a
// 6-byte DP line and the separator, each with its line end. Fifty times that still reads in a
// few milliseconds, so a larger file is refused unread: it is no score file, and reading a
// gigabyte of it would keep the window from appearing for seconds.
constexpr int64_t MaxScoreFileSize = 2 * 1024 * 1024;

enum class ScoreFileRefusal : uint8_t {
    None,          // read, and a record matched, or the file holds nothing but line ends
    Missing,       // there is no such file: no scores, and nothing to report
    NotRegular,    // a named pipe, device, socket or directory: never opened for reading
    TooLarge,      // above MaxScoreFileSize
    Unreadable,    // opening or reading failed; error holds the reason
    NamesNoChart,  // holds text, but no record of any chart: nothing of it is taken
    StillChanging, // another program was still writing it when the wait for it ran out
};

struct ScoreFileStatus {
    ScoreFileRefusal refusal = ScoreFileRefusal::None;
    int error = 0;        // errno behind Unreadable
    FileKind kind = FileKind::Regular;  // what the file is, behind NotRegular
    int64_t size = 0;     // the size behind TooLarge; -1 when the file grew past the bound as it was read
    bool cut = false;     // the text ends inside a record, also when read again after a pause
};

// True when the own file exists but was not read, or named no chart: such a file is never
// written over.
bool IsRefusal(const ScoreFileStatus &status);

// Why the file was not read, for a message to the player ("Is a named pipe").
struct RefusalText {
    char text[128];
};
RefusalText DescribeRefusal(const ScoreFileStatus &status);

// Without a file name: the own load of "Scores.txt" into dpLost and the date. With a name, even
// an empty one: the comparison load of that file into enemyDpLost. Only a regular file of at
// most MaxScoreFileSize is read, and nothing waits on a pipe or a device. A byte-order mark is
// skipped, and UTF-16 reads as the same text. A file that changed within the last half second
// may still be being written: it is read again until two reads a moment apart agree, for two
// seconds at most (then it is refused as StillChanging). A text that ends inside a record (an
// editor caught half way through writing it) is read again after a short pause. Nothing is
// taken from a file that is refused. Yields true when at least one record named a chart;
// status, when given, tells what was read or why not.
bool LoadScoreFile(const char *fileName = nullptr, ScoreFileStatus *status = nullptr);

#ifdef _WIN32
// The comparison load of a file named as the system's wide calls take it: a name that the ANSI
// code page cannot hold would turn into another file's name on the way.
bool LoadComparisonFile(const wchar_t *fileName, ScoreFileStatus *status = nullptr);
#endif

// What the reader does before it reads a file again: a sleep of a tenth of a second, or, given
// nullptr back, that sleep again. Tests and the fuzzer put their own in its place.
void SetPauseBeforeReadingAgain(void (*pause)());

// The wall clock, in nanoseconds since 1970, that a file's change time is held against; nullptr
// puts the system's back. Tests move it instead of sleeping.
void SetScoreFileClock(int64_t (*now)());

// As at start: nothing known of what Scores.txt held.
void ForgetScoreFile();

// Reads "Scores.txt" again, as another window or an editor may have written it, and holds each
// chart's record against the one this process last read or wrote. A record with another score
// than that was changed by another program and is taken, except over a chart marked in
// unsaved, a score of this window's not yet in the file: that one keeps the better of the two,
// fewer DP lost or on a tie the later date. A record as last known, one without a score, a
// chart the file does not name, and every chart when the file is missing, refused, still cut
// after the pause or names no chart, keep the window's score. A merge never removes a score:
// the scores the file does not hold come out marked in unsaved, and only those.
// Yields true when any own score in the table changed.
bool MergeOwnScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status);

// Puts a score kept elsewhere (a recovery file) in the chart's place where it is the better of
// the two, fewer DP lost or on a tie the later date; yields true where it did.
bool TakeBetterScore(ChartRecord &chart, uint16_t dpLost, uint8_t day, uint8_t month, uint16_t year);

// Rewrites "Scores.txt" whole, all 256 charts in storage order, replacing the old file only
// once the new one is complete on disk. On failure the old file is untouched and failure, when
// given, says why.
bool SaveScoreFile(SaveFailure *failure = nullptr);

// The save after a merge: where, at the last moment before the replace, Scores.txt no longer
// holds the bytes the merge read (an editor saved meanwhile), it merges again and writes once
// more, three times at most. merged tells whether such a merge changed a score in the table.
bool SaveMergedScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status, SaveFailure *failure, bool &merged);
