#include "folder_lock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <windows.h>

namespace {

constexpr int LockRetryMs = 10;

// A directory cannot be locked on Windows, so the lock is a mutex named after the identity of
// the folder the file lies in: its volume and its file index, the same whatever path or
// link a window reaches it by. The system releases a mutex whose owner dies; the next window
// then finds it abandoned and takes it. The folder goes by its wide name, so that a name
// outside the system's code page still reaches it.
HANDLE MutexOfFolder(const wchar_t *folder)
{
    HANDLE directory = CreateFileW(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(directory, &info);
    const DWORD error = GetLastError();
    CloseHandle(directory);
    if (!known) {
        SetLastError(error);
        return nullptr;
    }
    wchar_t name[96];
    std::swprintf(name, 96, L"Local\\BriskoCalculatorScores-%08lx-%08lx%08lx", info.dwVolumeSerialNumber,
                  info.nFileIndexHigh, info.nFileIndexLow);
    return CreateMutexW(nullptr, FALSE, name);
}

// The system's own words for an error, in UTF-8 as every reason for the player.
void SystemText(DWORD error, char (&text)[256])
{
    wchar_t wide[256];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        wide, 256, nullptr);
    if (length == 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr) <= 0)
        std::snprintf(text, sizeof text, "Error %lu", static_cast<unsigned long>(error));
    for (size_t end = std::strlen(text); end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == '.');)
        text[--end] = 0;
}

}  // namespace

void FolderLock::Take(const char *name, int waitMs)
{
    wchar_t folder[WideFolderSize];
    WideFolderWrittenBy(name, folder);
    const auto cannotLock = [this, name](DWORD error) {
        char why[256], shown[PATH_MAX];
        SystemText(error, why);
        FolderWrittenBy(name, shown);
        CannotLock(shown, why);
    };
    HANDLE mutex = MutexOfFolder(folder);
    if (mutex == nullptr) {
        cannotLock(GetLastError());
        return;
    }
    DWORD waited = WAIT_FAILED;
    const int attempts = std::max(1, waitMs / LockRetryMs);  // one try even without a wait
    for (int attempt = 0; attempt < attempts; ++attempt) {
        waited = WaitForSingleObject(mutex, DWORD(LockRetryMs));
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            held_ = intptr_t(mutex);
            return;
        }
        if (waited != WAIT_TIMEOUT)
            break;
    }
    const DWORD error = GetLastError();
    CloseHandle(mutex);
    busy_ = waited == WAIT_TIMEOUT;
    if (!busy_)
        cannotLock(error);
}

void FolderLock::Release()
{
    HANDLE mutex = reinterpret_cast<HANDLE>(held_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
