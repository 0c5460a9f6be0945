#pragma once

#include <cstdint>
#include <cstdio>

#include "file_system.h"

// Keeps other processes from writing in a folder while this one reads and writes a file there:
// a lock that belongs to the folder a writer of the file writes into, through its links (an
// flock on the folder on POSIX, in folder_lock_posix.cpp; a mutex named after the folder's
// identity on Windows, in folder_lock_windows.cpp). It leaves no file behind, and the system
// drops it when the process dies, so a crashed process never blocks another.
//
// One process holds one lock at a time. A second one taken while the first is held is refused
// at once, on every system alike, never waited for: the first holder's read, merge and write
// must stay one step that nothing else of this process writes into, and a nested save that
// went ahead under the same lock would break exactly that unseen.
class FolderLock {
public:
    // Waits waitMs at most for another process that holds it; tries once without a wait.
    FolderLock(const char *name, int waitMs);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    // True when another process held the lock for the whole wait: writing now could erase what
    // it is writing.
    bool Busy() const { return busy_; }

    // Why nothing may be written now, or nullptr while the lock is held: another window kept it,
    // this process holds it already, or the folder could not be locked at all (one the player
    // may not read, say).
    const char *Refusal() const
    {
        if (held_ != -1)
            return nullptr;
        return busy_ ? "Another window kept it locked" : refusal_;
    }

private:
    // The system's part: takes the lock into held_, or says why not in busy_ and refusal_.
    void Take(const char *name, int waitMs);
    void Release();

    // Fills in the refusal for a folder that could not be locked, named by its full path.
    void CannotLock(const char *folder, const char *why);

    intptr_t held_ = -1;  // the locked folder's descriptor, or the mutex's handle
    bool busy_ = false;
    bool claimed_ = false;  // this is the lock the process holds, or tries to take
    char refusal_[PATH_MAX + 128] = {};
};
