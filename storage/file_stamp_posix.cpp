#include "file_stamp.h"

#include <sys/stat.h>

namespace {

int64_t Nanoseconds(const timespec &time)
{
    return int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

bool operator==(const FileStamp &a, const FileStamp &b)
{
    return a.known == b.known && a.device == b.device && a.file == b.file && a.changedAt == b.changedAt;
}

// The change time moves also where a writer puts the old modification time back.
FileStamp StampOf(FILE *stream)
{
    FileStamp stamp;
    struct stat info;
    if (fstat(fileno(stream), &info) != 0)
        return stamp;
    stamp.known = true;
    stamp.device = uint64_t(info.st_dev);
    stamp.file = uint64_t(info.st_ino);
    const int64_t changed = Nanoseconds(info.st_ctim);
    const int64_t modified = Nanoseconds(info.st_mtim);
    stamp.changedAt = changed > modified ? changed : modified;
    stamp.wholeSeconds = stamp.changedAt % 1000000000 == 0;
    return stamp;
}
