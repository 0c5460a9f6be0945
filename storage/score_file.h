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
// skipped, and UTF-16 reads as the same text. A text that ends inside a record (an editor
// caught half way through writing it) is read again after a short pause. Nothing is taken
// from a file that is refused. Yields true when at least one record named a chart; status,
// when given, tells what was read or why not.
bool LoadScoreFile(const char *fileName = nullptr, ScoreFileStatus *status = nullptr);

#ifdef _WIN32
// The comparison load of a file named as the system's wide calls take it: a name that the ANSI
// code page cannot hold would turn into another file's name on the way.
bool LoadComparisonFile(const wchar_t *fileName, ScoreFileStatus *status = nullptr);
#endif

// What the reader does before it reads a cut file again: a short sleep, or, given nullptr
// back, that sleep again. Tests and the fuzzer put their own in its place.
void SetPauseBeforeReadingAgain(void (*pause)());

// Reads "Scores.txt" again, as another window or an editor may have written it. Every chart
// takes the file's record (a chart the file does not name has no score), except a chart marked
// in unsaved, a score of this window's not yet in the file: that one keeps the better of the
// two, fewer DP lost or on a tie the later date, and stays marked only if its own score won.
// A missing file, a refused one, one that could not be read whole or one that names no chart
// changes nothing; one still cut after the pause changes only the charts it names.
// Yields true when any own score in the table changed.
bool MergeOwnScoreFile(bool (&unsaved)[ChartCount], ScoreFileStatus &status);

// Rewrites "Scores.txt" whole, all 256 charts in storage order, replacing the old file only
// once the new one is complete on disk. On failure the old file is untouched and failure, when
// given, says why.
bool SaveScoreFile(SaveFailure *failure = nullptr);
