#include "file_system.h"

#include <cerrno>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "score_file.h"

namespace {

// Room for any path the wide calls take, long ones included.
constexpr DWORD WidePathSize = 4096;
using WidePath = wchar_t[WidePathSize];

constexpr int TemporaryAttempts = 100;
// Line ends are written a piece at a time: each "\n" of the text becomes "\r\n".
constexpr size_t TranslatedPieceSize = 8192;

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

// Names reach storage as the system's 8-bit text, the ANSI code page, as the C library's fopen
// takes them; the wide calls take them converted.
bool Widen(const char *name, WidePath &wide)
{
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide, int(WidePathSize)) > 0;
}

// For a message: without the "\\?\" prefix that final paths carry.
void NarrowForPlayer(const wchar_t *wide, char (&narrow)[PATH_MAX])
{
    if (std::wcsncmp(wide, L"\\\\?\\UNC\\", 8) == 0) {
        narrow[0] = '\\';
        if (WideCharToMultiByte(CP_ACP, 0, wide + 7, -1, narrow + 1, PATH_MAX - 1, nullptr, nullptr) <= 0)
            narrow[0] = 0;
        return;
    }
    if (std::wcsncmp(wide, L"\\\\?\\", 4) == 0)
        wide += 4;
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, PATH_MAX, nullptr, nullptr) <= 0)
        narrow[0] = 0;
}

bool Fail(SaveFailure *failure, DWORD error)
{
    return SaveFailed(failure, ErrnoOf(error));
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

// Opened for a look only: attributes, kind and the final path, links followed.
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
    const size_t length = size_t(slash - path) + (slash == path ? 1 : 0);
    std::wmemcpy(folder, path, length);
    folder[length] = 0;
}

// The file a name stands for, through links (where Windows has them), when it exists.
bool FinalPathOf(HANDLE file, WidePath &target)
{
    const DWORD length = GetFinalPathNameByHandleW(file, target, WidePathSize, FILE_NAME_NORMALIZED);
    return length > 0 && length < WidePathSize;
}

bool WriteTranslated(HANDLE file, const char *text, size_t length)
{
    char piece[TranslatedPieceSize];
    size_t used = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || used + 2 > sizeof piece) {
            DWORD written = 0;
            if (used > 0 && (!WriteFile(file, piece, DWORD(used), &written, nullptr) || written != used))
                return false;
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
// itself never waits for a pipe's reader.
bool WriteIntoSpecial(const wchar_t *name, FileKind kind, const char *text, size_t length, SaveFailure *failure)
{
    HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (kind == FileKind::NamedPipe && (error == ERROR_PIPE_BUSY || error == ERROR_FILE_NOT_FOUND))
            return SaveFailed(failure, ENXIO, "No program reads from the named pipe");
        return Fail(failure, error);
    }
    const bool written = WriteTranslated(file, text, length);
    const DWORD error = GetLastError();
    CloseHandle(file);
    return written || Fail(failure, error);
}

// Only once the file has grown to the new text's length, which takes the room on the disk, is
// its first byte changed: a full disk leaves it as it was.
bool RewriteInPlace(const wchar_t *target, const char *text, size_t length, SaveFailure *failure)
{
    HANDLE file = CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(failure, GetLastError());
    LARGE_INTEGER newLength{}, oldLength{}, start{};
    newLength.QuadPart = LONGLONG(TranslatedLength(text, length));
    bool done = GetFileSizeEx(file, &oldLength) &&
                (oldLength.QuadPart >= newLength.QuadPart ||
                 (SetFilePointerEx(file, newLength, nullptr, FILE_BEGIN) && SetEndOfFile(file))) &&
                SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteTranslated(file, text, length) &&
                SetEndOfFile(file) && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    return done || Fail(failure, error);
}

// A name of our own beside the file, made with CREATE_NEW: nothing someone else made is ever
// followed, written or removed.
HANDLE CreateTemporary(const wchar_t *target, WidePath &temporary)
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
        if (std::swprintf(temporary, WidePathSize, L"%ls.tmp-%ls", target, suffix) < 0) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS))
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool ReplaceThroughTemporary(const wchar_t *target, bool exists, const char *text, size_t length, SaveFailure *failure)
{
    WidePath temporary;
    HANDLE file = CreateTemporary(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (exists && error == ERROR_ACCESS_DENIED)
            return RewriteInPlace(target, text, length, failure);
        WidePath folder;
        FolderOf(target, folder);
        char shown[PATH_MAX];
        NarrowForPlayer(folder, shown);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "No temporary file could be made in %s: %s", shown,
                      std::strerror(ErrnoOf(error)));
        return SaveFailed(failure, ErrnoOf(error), reason);
    }
    bool done = WriteTranslated(file, text, length) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
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

bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure)
{
    WidePath wide;
    if (!Widen(name, wide))
        return Fail(failure, GetLastError());
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
        return ReplaceThroughTemporary(wide, false, text, length, failure);  // a folder that is missing says so
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
    return ReplaceThroughTemporary(target, true, text, length, failure);
}

void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX])
{
    std::snprintf(folder, sizeof folder, ".");
    WidePath wide, target, wideFolder;
    if (!Widen(name, wide))
        return;
    HANDLE look = OpenToLookAt(wide);
    const bool resolved = look != INVALID_HANDLE_VALUE && FinalPathOf(look, target);
    if (look != INVALID_HANDLE_VALUE)
        CloseHandle(look);
    FolderOf(resolved ? target : wide, wideFolder);
    NarrowForPlayer(wideFolder, folder);
}
