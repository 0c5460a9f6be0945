#pragma once

// Where the scores and plays of a window go when they can reach neither Scores.txt nor
// Plays.csv on the program's way out (another window kept the lock through the whole wait, or
// the file refused them): a recovery file of the program's own beside the file Scores.txt
// really is, "Scores-recovery-1.txt" and on to RecoverySlots, each made new and whole by one
// window, never written over, synced before the program ends. The next window that opens the
// folder takes every one of them in under the lock (a score counts as unsaved there and keeps
// the better of the two), saves, appends the plays, and only then removes them.
//
// The text: the first line is RecoveryFileFirstLine, by which a file is known to be ours; then
// a line for the player; "[Scores]" and the scores as Scores.txt writes its records (title,
// date, DP lost, separator); "[Plays]" and the plays as Plays.csv lines; and "[End]", without
// which the file is not taken (a window ended while it wrote it), nor removed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chart_table.h"
#include "file_system.h"
#include "play_journal.h"

constexpr int RecoverySlots = 16;
constexpr const char *RecoveryFileFirstLine = "Brisko Calculator recovery file";
constexpr const char *RecoveryFileNameFormat = "Scores-recovery-%d.txt";  // the slot, from 1

// Writes the scores of the charts marked in unsaved, as the table now holds them, and the plays
// to the first free recovery file, synced. path gets its full name (UTF-8) either way: the one
// written, or the first one tried; failure says why nothing was written.
bool WriteRecoveryFile(const bool (&unsaved)[ChartCount], const std::vector<PlayLine> &plays, char (&path)[PATH_MAX],
                       SaveFailure *failure);

struct RecoveredScores {
    bool found[RecoverySlots] = {};   // the slots read whole, which are removed once taken in
    int files = 0;
    bool hasScore[ChartCount] = {};
    uint16_t dpLost[ChartCount] = {};  // the best of the files, per chart
    uint8_t day[ChartCount] = {};
    uint8_t month[ChartCount] = {};
    uint16_t year[ChartCount] = {};
    std::vector<PlayLine> plays;       // of every file, in the order they were played
    char firstPath[PATH_MAX] = {};     // the first file read, for a message
};

// Reads every whole recovery file of ours beside Scores.txt; yields true when there was one.
bool ReadRecoveryFiles(RecoveredScores &recovered);

// Parses one file's text into recovered, the better score winning where it already holds one;
// false for a text that is not a whole recovery file of ours. Exposed for the tests.
bool ParseRecoveryText(const char *text, size_t length, RecoveredScores &recovered);

// Removes the files read; false with failure filled in at the first that stays.
bool RemoveRecoveryFiles(const RecoveredScores &recovered, SaveFailure *failure);

// The full name of a slot's file, UTF-8, for messages; its own name alone where the whole is too
// long.
void RecoveryFilePath(int slot, char (&path)[PATH_MAX]);

// Removes one slot's file; one that is gone already is no failure.
bool RemoveRecoveryFile(int slot, SaveFailure *failure);
