// The rewrite of a file in place on Windows, for where a replace cannot serve: a folder that
// refuses new files, a name too long for a temporary, a file with more than one name. It is not
// crash-proof, so the old text is first copied to a file of our own beside it, which is removed
// only once the new text is on the disk.

#include "file_system.h"

#include <memory>

#include <windows.h>

#include "windows_calls.h"

namespace {

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
    const std::unique_ptr<char[]> piece(new char[PieceSize]);
    bool kept = MoveTo(file, 0);
    for (LONGLONG at = 0; kept && at < size;) {
        DWORD got = 0, written = 0;
        kept = ReadFile(file, piece.get(), DWORD(PieceSize), &got, nullptr) && got > 0 &&
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


}  // namespace

// Only once the file has grown to the new text's length, which takes the room on the disk, is
// its first byte changed: a full disk leaves it as it was. The old bytes the new text covers are
// kept, so that a write that fails after all (a file system that grows a file without taking
// its room) puts them back, with the old length; the whole old text waits beside it as well.
bool RewriteInPlace(const wchar_t *target, const char *bytes, size_t size, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    HANDLE file = CreateFileW(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(failure, GetLastError());
    LARGE_INTEGER oldLength{};
    const LONGLONG newLength = LONGLONG(size);
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
                MoveTo(file, 0) && WritePieces(file, bytes, size) && FlushFileBuffers(file) &&
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

