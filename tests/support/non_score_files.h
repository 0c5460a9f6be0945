#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include "chart_fixture.h"
#include "score_file.h"

// Puts what is no score file under the given name: "fifo" (a named pipe), "zero" (a link to an
// endless device), "dir", "huge" (a sparse gigabyte); or a record followed by zeros up to the
// size bound ("bound") or one byte past it ("above").
inline bool MakeNonScoreFile(const QByteArray &kind, const char *name)
{
    if (kind == "fifo")
        return mkfifo(name, 0600) == 0;
    if (kind == "zero")
        return symlink("/dev/zero", name) == 0;
    if (kind == "dir")
        return mkdir(name, 0700) == 0;
    const off_t size = kind == "huge" ? off_t(1) << 30 : MaxScoreFileSize + (kind == "above" ? 1 : 0);
    return WriteBytes(name, ScoreRecord("ABSOLUTE", "06/09/2005", 10)) && truncate(name, size) == 0;
}
