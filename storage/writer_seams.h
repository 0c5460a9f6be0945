#pragma once

#include <cstdio>

// The system's calls a save or a read makes where no real disk fails on demand. Tests put their
// own in place to play a rename refused with EBUSY or EXDEV (a file mounted over another), a file
// system without a free inode, a folder whose sync fails, a disk that fails a read, or to see
// when a rewrite in place syncs; the program never changes them.
struct WriterSeams {
    int (*rename)(const char *from, const char *to);
    int (*makeTemporary)(char *name, int flags);    // as mkostemp
    int (*syncFolder)(int fd);                      // as fsync, on the folder
    int (*syncRewritten)(int fd);                   // as fsync, on a file rewritten in place
    FILE *(*openStream)(int fd, const char *mode);  // as fdopen, on a file to be read
};

extern WriterSeams writerSeams;
