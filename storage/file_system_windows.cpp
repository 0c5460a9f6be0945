#include "file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <aclapi.h>
#include <winioctl.h>

#include "score_file.h"
#include "windows_calls.h"

namespace {

constexpr int TemporaryAttempts = 100;
// A pipe's reader or a device is given this long to take the whole text.
constexpr DWORD SpecialWaitMilliseconds = 1000;
// As the system allows: a longer chain of links is a loop.
constexpr int MaxLinkHops = 63;
// Line ends are written a piece at a time: each "\n" of the text becomes "\r\n".
constexpr size_t TranslatedPieceSize = 8192;

// For a message, in UTF-8 so that every character of the name survives, and without the
// "\\?\" prefix that final paths carry.
void NarrowForPlayer(const wchar_t *wide, char (&narrow)[PATH_MAX])
{
    if (std::wcsncmp(wide, L"\\\\?\\UNC\\", 8) == 0) {
        narrow[0] = '\\';
        if (WideCharToMultiByte(CP_UTF8, 0, wide + 7, -1, narrow + 1, PATH_MAX - 1, nullptr, nullptr) <= 0)
            narrow[0] = 0;
        return;
    }
    if (std::wcsncmp(wide, L"\\\\?\\", 4) == 0)
        wide += 4;
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, PATH_MAX, nullptr, nullptr) <= 0)
        narrow[0] = 0;
}

// The folder as the player knows it: its full path.
void FullWidePathOf(const wchar_t *folder, WidePath &full)
{
    const DWORD length = GetFullPathNameW(folder, WidePathSize, full, nullptr);
    if (length == 0 || length >= WidePathSize)
        std::wcscpy(full, folder);
}

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

void FolderOf(const wchar_t *path, WidePath &folder)
{
    const wchar_t *slash = std::wcsrchr(path, L'\\');
    const wchar_t *other = std::wcsrchr(path, L'/');
    if (other != nullptr && (slash == nullptr || other > slash))
        slash = other;
    if (slash == nullptr) {
        std::wcscpy(folder, L".");
        return;
    }
    // The root keeps its backslash: "E:\", not the volume "E:" (nor "E:" as the drive's current folder).
    const bool root = slash == path || slash[-1] == L':';
    const size_t length = size_t(slash - path) + (root ? 1 : 0);
    std::wmemcpy(folder, path, length);
    folder[length] = 0;
}

// The file a name stands for, through links (where Windows has them), when it exists.
bool FinalPathOf(HANDLE file, WidePath &target)
{
    const DWORD length = GetFinalPathNameByHandleW(file, target, WidePathSize, FILE_NAME_NORMALIZED);
    return length > 0 && length < WidePathSize;
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

bool WriteTranslated(HANDLE file, const char *text, size_t length, bool overlapped = false, size_t *done = nullptr)
{
    const ULONGLONG deadline = GetTickCount64() + SpecialWaitMilliseconds;
    char piece[TranslatedPieceSize];
    size_t used = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || used + 2 > sizeof piece) {
            if (used > 0 && !WritePiece(file, piece, DWORD(used), overlapped, deadline))
                return false;
            if (done != nullptr)
                *done = i;
            used = 0;
            if (i == length)
                break;
        }
        if (text[i] == '\n')
            piece[used++] = '\r';
        piece[used++] = text[i];
    }
    return true;
}

size_t TranslatedLength(const char *text, size_t length)
{
    size_t lineEnds = 0;
    for (size_t i = 0; i < length; ++i)
        lineEnds += text[i] == '\n';
    return length + lineEnds;
}

// A pipe or a device takes the text as it comes, as opening it for writing always did; the open
// itself never waits for a pipe's reader, and a reader that takes the text slowly or not at all
// is given a second for all of it, and no more.
bool WriteIntoSpecial(const wchar_t *name, FileKind kind, const char *text, size_t length, SaveFailure *failure)
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
    const bool done = WriteTranslated(file, text, length, true, &written);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (done || error != WAIT_TIMEOUT)
        return done || Fail(failure, error);
    char reason[sizeof SaveFailure::reason];
    std::snprintf(reason, sizeof reason, "%s did not take it all within a second; %llu of %llu bytes were written",
                  kind == FileKind::NamedPipe ? "The named pipe" : "The device", (unsigned long long)written,
                  (unsigned long long)length);
    return SaveFailed(failure, EAGAIN, reason);
}

// Backups that go by the archive attribute (xcopy /m, robocopy /m) take the new scores.
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
HANDLE CreateTemporary(const wchar_t *target, WidePath &temporary, const wchar_t *kind = L".tmp-")
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

// The old text, whole, in a file of our own beside target that takes its access list: kept,
// flushed, until the new text is on the disk. False where none can be made, such as in the
// folder that refused the temporary: the old bytes the rewrite covers are then kept in memory.
bool KeepOldText(HANDLE file, LONGLONG size, const wchar_t *target, DWORD attributes, WidePath &copy)
{
    HANDLE out = CreateTemporary(target, copy, L".old-");
    if (out == INVALID_HANDLE_VALUE) {
        copy[0] = 0;
        return false;
    }
    TakeOverAccessAndAttributes(target, attributes, out);
    const std::unique_ptr<char[]> piece(new char[TranslatedPieceSize]);
    bool kept = MoveTo(file, 0);
    for (LONGLONG at = 0; kept && at < size;) {
        DWORD got = 0, written = 0;
        kept = ReadFile(file, piece.get(), DWORD(TranslatedPieceSize), &got, nullptr) && got > 0 &&
               WriteFile(out, piece.get(), got, &written, nullptr) && written == got;
        at += got;
    }
    kept = kept && FlushFileBuffers(out);
    CloseHandle(out);
    if (!kept) {
        DeleteFileW(copy);
        copy[0] = 0;
    }
    return MoveTo(file, 0) && kept;
}

// Only once the file has grown to the new text's length, which takes the room on the disk, is
// its first byte changed: a full disk leaves it as it was. The old bytes the new text covers are
// kept, so that a write that fails after all (a file system that grows a file without taking
// its room) puts them back, with the old length; the whole old text waits beside it as well.
bool RewriteInPlace(const wchar_t *target, const char *text, size_t length, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    HANDLE file = CreateFileW(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(failure, GetLastError());
    LARGE_INTEGER oldLength{};
    const LONGLONG newLength = LONGLONG(TranslatedLength(text, length));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileSizeEx(file, &oldLength) || !GetFileInformationByHandle(file, &info)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return Fail(failure, error);
    }
    WidePath copy;
    KeepOldText(file, oldLength.QuadPart, target, info.dwFileAttributes, copy);
    const DWORD covered = DWORD(oldLength.QuadPart < newLength ? oldLength.QuadPart : newLength);
    const std::unique_ptr<char[]> old(new char[covered + 1]);
    DWORD got = 0;
    const bool holds = check.Holds();
    if (!holds || !ReadFile(file, old.get(), covered, &got, nullptr) || got != covered) {
        const DWORD error = got != covered ? ERROR_READ_FAULT : GetLastError();
        CloseHandle(file);
        if (copy[0] != 0)
            DeleteFileW(copy);
        return holds ? Fail(failure, error) : ChangedMeanwhile(failure);
    }
    bool done = (oldLength.QuadPart >= newLength || (MoveTo(file, newLength) && SetEndOfFile(file))) &&
                MoveTo(file, 0) && WriteTranslated(file, text, length) && FlushFileBuffers(file) &&
                SetEndOfFile(file) && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    bool putBack = done;
    if (!done) {
        DWORD written = 0;
        putBack = MoveTo(file, 0) && WriteFile(file, old.get(), covered, &written, nullptr) && written == covered &&
                  MoveTo(file, oldLength.QuadPart) && SetEndOfFile(file) && FlushFileBuffers(file);
    }
    CloseHandle(file);
    if (copy[0] != 0 && putBack)
        DeleteFileW(copy);
    if (done)
        MarkForBackup(target);
    if (done)
        return true;
    char shown[PATH_MAX] = "";
    WidePath full;
    if (!putBack && copy[0] != 0) {
        FullWidePathOf(copy, full);
        NarrowForPlayer(full, shown);
    }
    return FailRewrite(failure, ErrnoOf(error), !putBack, shown);
}

// existing: the attributes of the file replaced, or nullptr for a new one.
bool ReplaceThroughTemporary(const wchar_t *target, const DWORD *existing, const char *text, size_t length,
                             SaveFailure *failure, const ReplaceCheck &check)
{
    WidePath temporary;
    HANDLE file = CreateTemporary(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (existing != nullptr && (error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE))
            return RewriteInPlace(target, text, length, failure, check);
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
    bool done = WriteTranslated(file, text, length) && FlushFileBuffers(file);
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

// Layout of a symbolic link's reparse data, as FSCTL_GET_REPARSE_POINT gives it.
struct SymbolicLinkData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    DWORD flags;
    wchar_t path[1];
};
constexpr DWORD SymbolicLinkRelative = 1;

// Where a symbolic link points, read from the link itself: for a link whose target does not
// exist, which the system will not open.
bool LinkTarget(const wchar_t *name, WidePath &target)
{
    HANDLE link = CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return false;
    alignas(SymbolicLinkData) char buffer[16 * 1024];
    DWORD got = 0;
    const bool read = DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(link);
    const auto *data = reinterpret_cast<const SymbolicLinkData *>(buffer);
    if (!read || got < sizeof(SymbolicLinkData) || data->tag != IO_REPARSE_TAG_SYMLINK)
        return false;
    const size_t length = data->substituteLength / sizeof(wchar_t);
    const wchar_t *path = data->path + data->substituteOffset / sizeof(wchar_t);
    if (length + 1 >= WidePathSize)
        return false;
    WidePath pointed;
    std::wmemcpy(pointed, path, length);
    pointed[length] = 0;
    if (std::wcsncmp(pointed, L"\\??\\", 4) == 0)
        pointed[1] = L'\\';  // the object manager's prefix, as a path takes it: "\\?\"
    if ((data->flags & SymbolicLinkRelative) == 0)
        return std::swprintf(target, WidePathSize, L"%ls", pointed) >= 0;
    WidePath folder;
    FolderOf(name, folder);
    return std::swprintf(target, WidePathSize, L"%ls%ls%ls", folder, Joint(folder), pointed) >= 0;
}

// The name a save writes to: through links whose target does not exist yet, that target, so
// that the link stays a link and the file is made where it points, as on every other system.
void FollowDanglingLinks(const wchar_t *name, WidePath &target)
{
    std::wcscpy(target, name);
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        WidePath next;
        if (!LinkTarget(target, next))
            return;
        std::wcscpy(target, next);
    }
}

FILE *Refuse(ScoreFileStatus &status, ScoreFileRefusal refusal, int error = 0)
{
    status.refusal = refusal;
    status.error = error;
    return nullptr;
}

FILE *RefuseKind(ScoreFileStatus &status, FileKind kind)
{
    status.kind = kind;
    return Refuse(status, ScoreFileRefusal::NotRegular);
}

}  // namespace

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

bool Widen(const char *name, WidePath &wide)
{
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide, int(WidePathSize)) > 0;
}

bool Fail(SaveFailure *failure, DWORD error)
{
    return SaveFailed(failure, ErrnoOf(error));
}

HANDLE OpenToLookAt(const wchar_t *name)
{
    return CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FileKind KindOf(HANDLE file)
{
    switch (GetFileType(file)) {
    case FILE_TYPE_CHAR:
        return FileKind::Device;
    case FILE_TYPE_PIPE:
        return FileKind::NamedPipe;
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info))
            return FileKind::Other;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
    }
    default:
        return FileKind::Other;
    }
}

const wchar_t *Joint(const wchar_t *folder)
{
    const size_t length = std::wcslen(folder);
    return length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/') ? L"" : L"\\";
}

// The same volume and file index: one file, through links and under any name.
bool LeadsToFileOf(const wchar_t *name, const wchar_t *other, bool onlyThroughALinkOfName)
{
    HANDLE mine = OpenToLookAt(name), theirs = OpenToLookAt(other);
    BY_HANDLE_FILE_INFORMATION mineInfo{}, theirInfo{};
    bool same = false;
    if (mine != INVALID_HANDLE_VALUE && theirs != INVALID_HANDLE_VALUE)
        same = GetFileInformationByHandle(mine, &mineInfo) && GetFileInformationByHandle(theirs, &theirInfo) &&
               mineInfo.dwVolumeSerialNumber == theirInfo.dwVolumeSerialNumber &&
               mineInfo.nFileIndexHigh == theirInfo.nFileIndexHigh && mineInfo.nFileIndexLow == theirInfo.nFileIndexLow;
    for (HANDLE file : {mine, theirs})
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    const auto isLink = [](const wchar_t *path) {
        const DWORD attributes = GetFileAttributesW(path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    };
    return same && (!onlyThroughALinkOfName || (isLink(name) && !isLink(other)));
}

// The handle is looked at before a byte is read: only a file on a disk, and no larger than any
// score file can be, becomes a stream. The stream reads the bytes as they are, CR LF included,
// as on every other system.
FILE *OpenRegularFile(const char *name, ScoreFileStatus &status)
{
    WidePath wide;
    if (!Widen(name, wide))
        return Refuse(status, ScoreFileRefusal::Unreadable, ErrnoOf(GetLastError()));
    return OpenRegularFile(wide, status);
}

FILE *OpenRegularFile(const wchar_t *wide, ScoreFileStatus &status)
{
    FileKind kind = FileKind::Other;
    if (InDeviceNamespace(wide, kind))
        return RefuseKind(status, kind);
    HANDLE file = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return Refuse(status, missing ? ScoreFileRefusal::Missing : ScoreFileRefusal::Unreadable, ErrnoOf(error));
    }
    kind = KindOf(file);
    LARGE_INTEGER size{};
    if (kind != FileKind::Regular) {
        CloseHandle(file);
        return RefuseKind(status, kind);
    }
    if (!GetFileSizeEx(file, &size) || size.QuadPart > MaxScoreFileSize) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (size.QuadPart <= MaxScoreFileSize)
            return Refuse(status, ScoreFileRefusal::Unreadable, ErrnoOf(error));
        status.size = size.QuadPart;
        return Refuse(status, ScoreFileRefusal::TooLarge);
    }
    const int fd = _open_osfhandle(intptr_t(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return Refuse(status, ScoreFileRefusal::Unreadable, EMFILE);
    }
    FILE *stream = _fdopen(fd, "rb");
    if (stream == nullptr) {
        _close(fd);
        return Refuse(status, ScoreFileRefusal::Unreadable, errno);
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
    FileKind kind = FileKind::Other;
    const bool writeInto = special == SpecialTarget::WriteInto;
    if (InDeviceNamespace(wide, kind))
        return writeInto ? WriteIntoSpecial(wide, kind, text, length, failure)
                         : SaveFailed(failure, EINVAL, FileKindText(kind));
    HANDLE look = OpenToLookAt(wide);
    if (look == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return Fail(failure, error);
        WidePath target;
        FollowDanglingLinks(wide, target);
        return ReplaceThroughTemporary(target, nullptr, text, length, failure, check);  // a folder that is missing says so
    }
    kind = KindOf(look);
    BY_HANDLE_FILE_INFORMATION info{};
    WidePath target;
    const bool looked = GetFileInformationByHandle(look, &info) && FinalPathOf(look, target);
    const DWORD lookError = GetLastError();
    CloseHandle(look);
    if (kind != FileKind::Regular) {
        const bool takesText = kind == FileKind::Device || kind == FileKind::NamedPipe;
        return writeInto && takesText ? WriteIntoSpecial(wide, kind, text, length, failure)
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
        return RewriteInPlace(target, text, length, failure, check);
    return ReplaceThroughTemporary(target, &info.dwFileAttributes, text, length, failure, check);
}

bool LeadsToFileOf(const char *name, const char *other, bool onlyThroughALinkOfName)
{
    WidePath wideName, wideOther;
    return Widen(name, wideName) && Widen(other, wideOther) &&
           LeadsToFileOf(wideName, wideOther, onlyThroughALinkOfName);
}

// GetFullPathNameW joins names as text, and a removed folder's name with them.
void RememberCurrentDirectory() {}

void WideFolderWrittenBy(const char *name, wchar_t (&folder)[WideFolderSize])
{
    std::wcscpy(folder, L".");
    WidePath wide, target;
    if (!Widen(name, wide))
        return;
    HANDLE look = OpenToLookAt(wide);
    const bool resolved = look != INVALID_HANDLE_VALUE && FinalPathOf(look, target);
    if (look != INVALID_HANDLE_VALUE)
        CloseHandle(look);
    if (!resolved)
        FollowDanglingLinks(wide, target);
    FolderOf(target, folder);
}

void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX])
{
    WidePath wideFolder;
    WideFolderWrittenBy(name, wideFolder);
    NarrowForPlayer(wideFolder, folder);
}

void FullPathOf(const char *folder, char (&full)[PATH_MAX])
{
    WidePath wide, wideFull;
    if (MultiByteToWideChar(CP_UTF8, 0, folder, -1, wide, int(WidePathSize)) <= 0) {
        std::snprintf(full, sizeof full, "%s", folder);
        return;
    }
    FullWidePathOf(wide, wideFull);
    NarrowForPlayer(wideFull, full);
}
