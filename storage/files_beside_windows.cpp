// Files beside another on Windows, named wide from the folder to the call: made new and whole
// (a recovery file of one window, never written over), and removed.

#include "file_system.h"

#include <cerrno>
#include <string>

#include <windows.h>

#include "windows_calls.h"

// Made only where the name is free, with the system's line ends, and flushed to the disk before
// the program goes on.
bool CreateFileBeside(const char *owner, const char *name, const char *text, size_t length, SaveFailure *failure)
{
    const std::string bytes = WithSystemLineEnds(text, length);
    NativePath path;
    if (!PathBeside(owner, name, path))
        return SaveFailed(failure, ENAMETOOLONG);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(failure, GetLastError());
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                       written == bytes.size() && FlushFileBuffers(file);
    const DWORD error = whole ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (whole)
        return true;
    DeleteFileW(path);  // ours alone, and not whole
    return Fail(failure, error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
}

bool RemoveFileBeside(const char *owner, const char *name, SaveFailure *failure)
{
    NativePath path;
    if (!PathBeside(owner, name, path))
        return SaveFailed(failure, ENAMETOOLONG);
    if (DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    return Fail(failure, GetLastError());
}
