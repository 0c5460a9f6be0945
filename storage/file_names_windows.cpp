// Names on Windows: wide from the folder to the call, links followed (also to a file not made
// yet), the folder a name lies in, the names of files beside another, and paths as the player
// knows them, for messages.

#include "file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>
#include <winioctl.h>

#include "windows_calls.h"

const char FolderSeparator[] = "\\";

namespace {

// As the system allows: a longer chain of links is a loop.
constexpr int MaxLinkHops = 63;

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

}  // namespace

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

bool PathBeside(const char *owner, const char *name, NativePath &path)
{
    WideFolderWrittenBy(owner, path);
    const size_t length = std::wcslen(path);
    wchar_t wideName[64];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wideName, 64) <= 0 ||
        length + 1 + std::wcslen(wideName) >= WidePathSize)
        return false;
    const size_t joint = std::wcslen(Joint(path));
    if (joint > 0)
        path[length] = L'\\';
    std::wcscpy(path + length + joint, wideName);
    return true;
}
