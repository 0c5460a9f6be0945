#include "file_stamp.h"

#include <io.h>
#include <windows.h>

bool operator==(const FileStamp &a, const FileStamp &b)
{
    return a.known == b.known && a.device == b.device && a.file == b.file && a.changedAt == b.changedAt;
}

// Windows keeps the last write time in 100 ns steps since 1601; FAT in steps of two seconds.
FileStamp StampOf(FILE *stream)
{
    FileStamp stamp;
    BY_HANDLE_FILE_INFORMATION info;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return stamp;
    constexpr int64_t From1601To1970 = 116444736000000000;  // in 100 ns steps
    const int64_t written = int64_t(uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime);
    stamp.known = true;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.file = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    stamp.changedAt = (written - From1601To1970) * 100;
    stamp.wholeSeconds = stamp.changedAt % 1000000000 == 0;
    return stamp;
}
