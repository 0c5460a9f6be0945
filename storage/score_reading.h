#pragma once

// What score_file.cpp (the records) and score_merge.cpp (the merge, the save, and the wait for a
// file still being written) share inside storage; the text's rules are score_file_text.h's.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "chart_table.h"
#include "file_stamp.h"
#include "score_file.h"

enum class LoadMode { Own, Comparison };

// A file's whole text as one read found it, and which file it was, when it last changed.
struct ScoreText {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
    FileStamp stamp;
};

struct RecordsRead {
    int matched = 0;
    bool cut = false;  // the text ends inside a record
};

using ScoreFileOpener = FILE *(*)(const void *name, ScoreFileStatus &status);

// The file layer's open, with what it found told in status.
FILE *OpenNamed(const void *name, ScoreFileStatus &status);
#ifdef _WIN32
FILE *OpenWideNamed(const void *name, ScoreFileStatus &status);
#endif

// One read of the whole file, opened anew: an editor may have replaced it meanwhile. False,
// with status telling why, where it was not read.
bool ReadScoreText(ScoreFileOpener open, const void *name, ScoreText &text, ScoreFileStatus &status);

// Takes the text's records into the table; status says a text that names no chart, or is cut.
// A text in UTF-16 is turned into bytes in place.
RecordsRead TakeRecords(ScoreText &text, LoadMode mode, ScoreFileStatus &status, bool (&named)[ChartCount]);

// Reads the file until it can be trusted whole and takes its records, as LoadScoreFile
// describes; yields how many records named a chart.
int LoadScores(ScoreFileOpener open, const void *name, LoadMode mode, ScoreFileStatus &status,
               bool (&named)[ChartCount]);

// What the own load leaves known of the file, for the merges that follow.
void NoteOwnLoad(const bool (&named)[ChartCount]);
