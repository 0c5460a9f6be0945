#pragma once

// Which file an open stream reads and when it last changed, for telling a file still being
// written from one at rest. POSIX in file_stamp_posix.cpp, Windows in file_stamp_windows.cpp.

#include <cstdint>
#include <cstdio>

struct FileStamp {
    bool known = false;      // the system told; an unknown stamp counts as just changed
    uint64_t device = 0;     // with file, which file it is: a replaced file is another one
    uint64_t file = 0;
    int64_t changedAt = 0;   // the later of its change and modification times, ns since 1970
    bool wholeSeconds = false;  // the file system keeps no fractions: the change may lie later
};

bool operator==(const FileStamp &a, const FileStamp &b);

FileStamp StampOf(FILE *stream);
