#pragma once

// The system's calls a save makes where no real disk fails on demand. Tests put their own in
// place to play a rename refused with EBUSY or EXDEV (a file mounted over another), a file
// system without a free inode, or a folder whose sync fails; the program never changes them.
struct WriterSeams {
    int (*rename)(const char *from, const char *to);
    int (*makeTemporary)(char *name, int flags);  // as mkostemp
    int (*syncFolder)(int fd);                    // as fsync, on the folder
};

extern WriterSeams writerSeams;
