#include "score_file_lock.h"

#include <cwchar>

#include <windows.h>

#include "file_system.h"
#include "score_file.h"

namespace {

constexpr int LockAttempts = 100;
constexpr DWORD LockRetryMilliseconds = 10;  // 100 tries of 10 ms: one second

// A directory cannot be locked on Windows, so the lock is a mutex named after the identity of
// the folder the score file lies in: its volume and its file index, the same whatever path or
// link a window reaches it by. The system releases a mutex whose owner dies; the next window
// then finds it abandoned and takes it.
HANDLE MutexOfFolder(const char *folder)
{
    wchar_t wide[4096];
    if (MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, 4096) <= 0)
        return nullptr;
    HANDLE directory = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(directory, &info);
    CloseHandle(directory);
    if (!known)
        return nullptr;
    wchar_t name[96];
    std::swprintf(name, 96, L"Local\\BriskoCalculatorScores-%08lx-%08lx%08lx", info.dwVolumeSerialNumber,
                  info.nFileIndexHigh, info.nFileIndexLow);
    return CreateMutexW(nullptr, FALSE, name);
}

}  // namespace

ScoreFileLock::ScoreFileLock()
{
    char folder[PATH_MAX];
    FolderWrittenBy(ScoreFileName, folder);
    HANDLE mutex = MutexOfFolder(folder);
    if (mutex == nullptr)
        return;  // a folder that cannot be locked at all
    DWORD waited = WAIT_FAILED;
    for (int attempt = 0; attempt < LockAttempts; ++attempt) {
        waited = WaitForSingleObject(mutex, LockRetryMilliseconds);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            held_ = intptr_t(mutex);
            return;
        }
        if (waited != WAIT_TIMEOUT)
            break;
    }
    busy_ = waited == WAIT_TIMEOUT;
    CloseHandle(mutex);
}

ScoreFileLock::~ScoreFileLock()
{
    if (held_ == -1)
        return;
    HANDLE mutex = reinterpret_cast<HANDLE>(held_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
