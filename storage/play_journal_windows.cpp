// The play journal on Windows: only a file on a disk of at most MaxPlayJournalSize is read or
// written, and its name stays wide from the folder to the call. It is never the file it lies
// beside, through a link or under another name.

#include "play_journal.h"

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "windows_calls.h"

namespace {

HANDLE RefuseJournal(PlayJournalStatus &status, DWORD error)
{
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    status.refusal = missing ? PlayJournalRefusal::Missing : PlayJournalRefusal::Unreadable;
    status.error = ErrnoOf(error);
    return INVALID_HANDLE_VALUE;
}

// Yields the handle, or INVALID_HANDLE_VALUE with status telling why; size is what was opened.
HANDLE OpenJournal(const wchar_t *path, DWORD access, DWORD disposition, PlayJournalStatus &status,
                   LARGE_INTEGER &size)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.kind = FileKind::Directory;
        status.refusal = PlayJournalRefusal::NotRegular;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return RefuseJournal(status, GetLastError());
    status.kind = KindOf(file);
    size.QuadPart = 0;
    if (status.kind != FileKind::Regular)
        status.refusal = PlayJournalRefusal::NotRegular;
    else if (!GetFileSizeEx(file, &size))
        RefuseJournal(status, GetLastError());
    else if (size.QuadPart > MaxPlayJournalSize)
        status.refusal = PlayJournalRefusal::TooLarge;
    status.size = size.QuadPart;
    if (status.refusal == PlayJournalRefusal::None)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

bool AppendTo(HANDLE file, LONGLONG size, const char *text, size_t length, SaveFailure *failure)
{
    char last = '\n';
    if (size > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(size - 1);
        at.OffsetHigh = DWORD((size - 1) >> 32);
        DWORD got = 0;
        if (!ReadFile(file, &last, 1, &got, &at) || got != 1)
            return Fail(failure, GetLastError());
    }
    const std::string batch = PlayJournalAppendBytes(size, last, text, length);
    // A full disk fails here, before a byte is written, where the file system reserves room.
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = size + LONGLONG(batch.size());
    if (!SetFileInformationByHandle(file, FileAllocationInfo, &room, sizeof room)) {
        const DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
            return Fail(failure, error);
    }
    DWORD written = 0;
    if (!WriteFile(file, batch.data(), DWORD(batch.size()), &written, nullptr))
        return Fail(failure, GetLastError());
    if (written < batch.size()) {
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "Only %lu of %zu bytes could be written: %s", (unsigned long)written,
                      batch.size(), std::strerror(ENOSPC));
        return SaveFailed(failure, ENOSPC, reason);
    }
    return FlushFileBuffers(file) || Fail(failure, GetLastError());
}

}  // namespace

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end, whoever wrote last.
bool AppendPlayLinesBeside(const char *owner, const char *text, size_t length, SaveFailure *failure,
                           PlayJournalRefusal *refused)
{
    WidePath path, wideOwner;
    if (!PathBeside(owner, PlayJournalName, path))
        return SaveFailed(failure, ENAMETOOLONG);
    if (Widen(owner, wideOwner) && LeadsToFileOf(path, wideOwner, false))
        return RefuseOverwriting(failure, owner);
    PlayJournalStatus status;
    LARGE_INTEGER size{};
    HANDLE file = OpenJournal(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              OPEN_ALWAYS, status, size);
    if (file == INVALID_HANDLE_VALUE) {
        if (refused != nullptr)
            *refused = status.refusal;
        return RefuseAppend(status, failure);
    }
    const bool appended = AppendTo(file, size.QuadPart, text, length, failure);
    CloseHandle(file);
    return appended;
}

bool ReadPlayJournalBeside(const char *owner, PlayJournal &journal, PlayJournalStatus &status)
{
    status = PlayJournalStatus{};
    WidePath path;
    if (!PathBeside(owner, PlayJournalName, path)) {
        RefuseJournal(status, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    LARGE_INTEGER size{};
    HANDLE file = OpenJournal(path, GENERIC_READ, OPEN_EXISTING, status, size);
    if (file == INVALID_HANDLE_VALUE && status.refusal == PlayJournalRefusal::Missing)
        journal = PlayJournal{};
    if (file == INVALID_HANDLE_VALUE)
        return status.refusal == PlayJournalRefusal::Missing;
    const bool read = ReadPlayJournalThrough(journal, status, size.QuadPart, [&](char *into, size_t room) {
        DWORD got = 0;
        if (ReadFile(file, into, DWORD(std::min(room, size_t(1) << 30)), &got, nullptr))
            return int64_t(got);
        status.error = ErrnoOf(GetLastError());
        return int64_t(-1);
    });
    CloseHandle(file);
    return read;
}
