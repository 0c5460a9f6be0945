#pragma once

constexpr const char *ScoreFileName = "Scores.txt";

// Without a file name: the own load of "Scores.txt" into dpLost and the date. With a name, even
// an empty one: the comparison load of that file into enemyDpLost. Yields true when at least
// one record named a chart.
bool LoadScoreFile(const char *fileName = nullptr);

// Rewrites "Scores.txt" whole, all 256 charts in storage order, replacing the old file only
// once the new one is complete on disk. On failure the old file is untouched and, when
// failureErrno is given, it receives the reason as an errno value.
bool SaveScoreFile(int *failureErrno = nullptr);
