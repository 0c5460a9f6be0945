#include "recovery_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include <windows.h>

#include "score_file.h"

namespace {

// The slot's name beside Scores.txt, wide from the folder to the call; false when it would not
// fit. A folder that is a drive's root ends in its backslash already.
bool WideSlotName(int slot, wchar_t (&name)[WideFolderSize])
{
    wchar_t folder[WideFolderSize];
    WideFolderWrittenBy(ScoreFileName, folder);
    char narrow[64];
    wchar_t file[64];
    std::snprintf(narrow, sizeof narrow, RecoveryFileNameFormat, slot + 1);
    if (MultiByteToWideChar(CP_UTF8, 0, narrow, -1, file, 64) <= 0)
        return false;
    const size_t length = std::wcslen(folder);
    const bool joined = length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/');
    return std::swprintf(name, WideFolderSize, L"%ls%ls%ls", folder, joined ? L"" : L"\\", file) > 0;
}

bool Failed(SaveFailure *failure, DWORD error)
{
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return SaveFailed(failure, EEXIST);
    case ERROR_ACCESS_DENIED:
        return SaveFailed(failure, EACCES);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return SaveFailed(failure, ENOSPC);
    default:
        break;
    }
    char reason[64];
    std::snprintf(reason, sizeof reason, "Windows error %lu", static_cast<unsigned long>(error));
    return SaveFailed(failure, EIO, reason);
}

std::string WithSystemLineEnds(const char *text, size_t length)
{
    std::string bytes;
    bytes.reserve(length + length / 8);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n')
            bytes.push_back('\r');
        bytes.push_back(text[i]);
    }
    return bytes;
}

}  // namespace

FILE *OpenRecoveryFile(int slot, ScoreFileStatus &status)
{
    wchar_t name[WideFolderSize];
    return WideSlotName(slot, name) ? OpenRegularFile(name, status) : nullptr;
}

// Made only where the name is free, with the system's line ends, and flushed to the disk before
// the window ends.
bool CreateRecoveryFile(int slot, const char *text, size_t length, SaveFailure *failure)
{
    const std::string bytes = WithSystemLineEnds(text, length);
    wchar_t name[WideFolderSize];
    if (!WideSlotName(slot, name))
        return SaveFailed(failure, ENAMETOOLONG);
    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failed(failure, GetLastError());
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                       written == bytes.size() && FlushFileBuffers(file);
    const DWORD error = whole ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (whole)
        return true;
    DeleteFileW(name);  // ours alone, and not whole
    return Failed(failure, error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
}

bool RemoveRecoveryFile(int slot, SaveFailure *failure)
{
    wchar_t name[WideFolderSize];
    if (!WideSlotName(slot, name))
        return SaveFailed(failure, ENAMETOOLONG);
    if (DeleteFileW(name) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    return Failed(failure, GetLastError());
}
