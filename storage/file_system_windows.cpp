// The reads and the whole writes on Windows: a regular file opened for reading only after a look
// at what it is, the replace through a temporary of our own, and a pipe or a device written into.
// The rewrite in place is in in_place_rewrite_windows.cpp, names and links in
// file_names_windows.cpp.

#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <aclapi.h>

#include "windows_calls.h"

const char LineEndOnDisk[] = "\r\n";

namespace {

constexpr int TemporaryAttempts = 100;
// A pipe's reader or a device is given this long to take the whole text.
constexpr DWORD SpecialWaitMilliseconds = 1000;

// "\\.\" names devices and pipes themselves: nothing there is a file, and opening one may
// wait or act.
bool InDeviceNamespace(const wchar_t *name, FileKind &kind)
{
    if (std::wcsncmp(name, L"\\\\.\\", 4) != 0 && std::wcsncmp(name, L"//./", 4) != 0)
        return false;
    kind = _wcsnicmp(name + 4, L"pipe", 4) == 0 && (name[8] == L'\\' || name[8] == L'/') ? FileKind::NamedPipe
                                                                                         : FileKind::Device;
    return true;
}

// Writes one piece; a pipe or a device (overlapped handles) gets what is left until the
// deadline (GetTickCount64) to take it. A write that takes less than it was given without an
// error found a full disk.
bool WritePiece(HANDLE file, const char *piece, DWORD size, bool overlapped, ULONGLONG deadline)
{
    DWORD written = 0;
    if (!overlapped) {
        if (!WriteFile(file, piece, size, &written, nullptr))
            return false;
    } else {
        OVERLAPPED pending{};
        pending.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (pending.hEvent == nullptr)
            return false;
        bool done = WriteFile(file, piece, size, &written, &pending) != FALSE;
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            const ULONGLONG now = GetTickCount64();
            const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
            if (WaitForSingleObject(pending.hEvent, left) != WAIT_OBJECT_0)
                CancelIoEx(file, &pending);
            done = GetOverlappedResult(file, &pending, &written, TRUE) != FALSE;
            if (!done && GetLastError() == ERROR_OPERATION_ABORTED)
                SetLastError(WAIT_TIMEOUT);
        }
        const DWORD error = GetLastError();
        CloseHandle(pending.hEvent);
        SetLastError(error);
        if (!done)
            return false;
    }
    if (written != size) {
        SetLastError(overlapped ? WAIT_TIMEOUT : ERROR_DISK_FULL);
        return false;
    }
    return true;
}

}  // namespace

bool WritePieces(HANDLE file, const char *bytes, size_t size, bool overlapped, size_t *done)
{
    const ULONGLONG deadline = GetTickCount64() + SpecialWaitMilliseconds;
    for (size_t at = 0; at < size; at += PieceSize) {
        const size_t piece = size - at < PieceSize ? size - at : PieceSize;
        if (!WritePiece(file, bytes + at, DWORD(piece), overlapped, deadline))
            return false;
        if (done != nullptr)
            *done = at + piece;
    }
    return true;
}

namespace {

// A pipe or a device takes the text as it comes, as opening it for writing always did; the open
// itself never waits for a pipe's reader, and a reader that takes the text slowly or not at all
// is given a second for all of it, and no more.
bool WriteIntoSpecial(const wchar_t *name, FileKind kind, const std::string &bytes, SaveFailure *failure)
{
    HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (kind == FileKind::NamedPipe && (error == ERROR_PIPE_BUSY || error == ERROR_FILE_NOT_FOUND))
            return SaveFailed(failure, ENXIO, "No program reads from the named pipe");
        return Fail(failure, error);
    }
    size_t written = 0;
    const bool done = WritePieces(file, bytes.data(), bytes.size(), true, &written);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (done || error != WAIT_TIMEOUT)
        return done || Fail(failure, error);
    char reason[sizeof SaveFailure::reason];
    std::snprintf(reason, sizeof reason, "%s did not take it all within a second; %llu of %llu bytes were written",
                  kind == FileKind::NamedPipe ? "The named pipe" : "The device", (unsigned long long)written,
                  (unsigned long long)bytes.size());
    return SaveFailed(failure, EAGAIN, reason);
}

}  // namespace

// Backups that go by the archive attribute (xcopy /m, robocopy /m) take the new text.
void MarkForBackup(const wchar_t *target)
{
    const DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_ARCHIVE) == 0)
        SetFileAttributesW(target, (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE);  // "normal": alone only
}

bool MoveTo(HANDLE file, LONGLONG offset)
{
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}

// The new text takes over the old file's access list and attributes, as ReplaceFileW would
// carry them over (attributes 0: a new file, which takes only the archive attribute);
// ReplaceFileW itself is no single step everywhere (under wine a save killed in
// its middle can leave no whole file), while the move that follows is. A file system without
// access lists (FAT) keeps what it can: that is no failed save.
void TakeOverAccessAndAttributes(const wchar_t *target, DWORD attributes, HANDLE temporary)
{
    PACL access = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (attributes != 0 && GetNamedSecurityInfoW(target, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &access, nullptr,
                              &descriptor) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        const bool isProtected = GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                                 (control & SE_DACL_PROTECTED) != 0;
        SetSecurityInfo(temporary, SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION |
                            (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION),
                        nullptr, nullptr, access, nullptr);
        LocalFree(descriptor);
    }
    constexpr DWORD Kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = (attributes & Kept) | FILE_ATTRIBUTE_ARCHIVE;  // see MarkForBackup
    SetFileInformationByHandle(temporary, FileBasicInfo, &basic, sizeof basic);
}

// A name of our own beside the file, made with CREATE_NEW: nothing someone else made is ever
// followed, written or removed.
HANDLE CreateTemporary(const wchar_t *target, WidePath &temporary, const wchar_t *kind)
{
    static const wchar_t Letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    uint64_t state = uint64_t(now.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < TemporaryAttempts; ++attempt) {
        wchar_t suffix[7];
        for (wchar_t &letter : suffix) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            letter = Letters[(state >> 33) % 62];
        }
        suffix[6] = 0;
        if (std::swprintf(temporary, WidePathSize, L"%ls%ls%ls", target, kind, suffix) < 0) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE file = CreateFileW(temporary, GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS))
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

namespace {

// existing: the attributes of the file replaced, or nullptr for a new one.
bool ReplaceThroughTemporary(const wchar_t *target, const DWORD *existing, const std::string &bytes,
                             SaveFailure *failure, const ReplaceCheck &check)
{
    WidePath temporary;
    HANDLE file = CreateTemporary(target, temporary, L".tmp-");
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (existing != nullptr && (error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE))
            return RewriteInPlace(target, bytes.data(), bytes.size(), failure, check);
        WidePath folder, full;
        FolderOf(target, folder);
        FullWidePathOf(folder, full);
        char shown[PATH_MAX];
        NarrowForPlayer(full, shown);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "No temporary file could be made in %s: %s", shown,
                      std::strerror(ErrnoOf(error)));
        return SaveFailed(failure, ErrnoOf(error), reason);
    }
    TakeOverAccessAndAttributes(target, existing != nullptr ? *existing : 0, file);
    bool done = WritePieces(file, bytes.data(), bytes.size()) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (done && !check.Holds()) {
        DeleteFileW(temporary);
        return ChangedMeanwhile(failure);
    }
    if (done && !MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        done = false;
        error = GetLastError();
    }
    if (!done) {
        DeleteFileW(temporary);
        return Fail(failure, error);
    }
    return true;
}

FILE *Refuse(FileStatus &status, FileRefusal refusal, int error = 0)
{
    status.refusal = refusal;
    status.error = error;
    return nullptr;
}

FILE *RefuseKind(FileStatus &status, FileKind kind)
{
    status.kind = kind;
    return Refuse(status, FileRefusal::NotRegular);
}

}  // namespace

// The handle is looked at before a byte is read: only a file on a disk, and no larger than the
// bound, becomes a stream. The stream reads the bytes as they are, CR LF included,
// as on every other system.
FILE *OpenRegularFile(const char *name, int64_t maxSize, FileStatus &status)
{
    WidePath wide;
    if (!Widen(name, wide))
        return Refuse(status, FileRefusal::Unreadable, ErrnoOf(GetLastError()));
    return OpenRegularFile(wide, maxSize, status);
}

FILE *OpenRegularFile(const wchar_t *wide, int64_t maxSize, FileStatus &status)
{
    FileKind kind = FileKind::Other;
    if (InDeviceNamespace(wide, kind))
        return RefuseKind(status, kind);
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return Refuse(status, missing ? FileRefusal::Missing : FileRefusal::Unreadable, ErrnoOf(error));
    }
    kind = KindOf(file);
    LARGE_INTEGER size{};
    if (kind != FileKind::Regular) {
        CloseHandle(file);
        return RefuseKind(status, kind);
    }
    if (!GetFileSizeEx(file, &size) || size.QuadPart > maxSize) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (size.QuadPart <= maxSize)
            return Refuse(status, FileRefusal::Unreadable, ErrnoOf(error));
        status.size = size.QuadPart;
        return Refuse(status, FileRefusal::TooLarge);
    }
    const int fd = _open_osfhandle(intptr_t(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return Refuse(status, FileRefusal::Unreadable, EMFILE);
    }
    FILE *stream = _fdopen(fd, "rb");
    if (stream == nullptr) {
        _close(fd);
        return Refuse(status, FileRefusal::Unreadable, errno);
    }
    return stream;
}

bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    WidePath wide;
    if (!Widen(name, wide))
        return Fail(failure, GetLastError());
    return WriteWholeFile(wide, text, length, special, failure, check);
}

bool WriteWholeFile(const wchar_t *wide, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    const std::string bytes = WithSystemLineEnds(text, length);
    FileKind kind = FileKind::Other;
    const bool writeInto = special == SpecialTarget::WriteInto;
    if (InDeviceNamespace(wide, kind))
        return writeInto ? WriteIntoSpecial(wide, kind, bytes, failure)
                         : SaveFailed(failure, EINVAL, FileKindText(kind));
    HANDLE look = OpenToLookAt(wide);
    if (look == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return Fail(failure, error);
        WidePath target;
        FollowDanglingLinks(wide, target);
        return ReplaceThroughTemporary(target, nullptr, bytes, failure, check);  // a folder that is missing says so
    }
    kind = KindOf(look);
    BY_HANDLE_FILE_INFORMATION info{};
    WidePath target;
    const bool looked = GetFileInformationByHandle(look, &info) && FinalPathOf(look, target);
    const DWORD lookError = GetLastError();
    CloseHandle(look);
    if (kind != FileKind::Regular) {
        const bool takesText = kind == FileKind::Device || kind == FileKind::NamedPipe;
        return writeInto && takesText ? WriteIntoSpecial(wide, kind, bytes, failure)
                                      : SaveFailed(failure, EINVAL, FileKindText(kind));
    }
    if (!looked)
        return Fail(failure, lookError);
    // Replacing would succeed even where the player has made the file read-only.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        return Fail(failure, ERROR_ACCESS_DENIED);
    HANDLE probe = CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return Fail(failure, GetLastError());
    CloseHandle(probe);
    // A file with more names than one keeps them all: a replace would leave the others the old text.
    if (info.nNumberOfLinks > 1)
        return RewriteInPlace(target, bytes.data(), bytes.size(), failure, check);
    return ReplaceThroughTemporary(target, &info.dwFileAttributes, bytes, failure, check);
}

