#pragma once

#include <cstdint>
#include <cstdio>

#include "file_system.h"

// Keeps other windows from saving "Scores.txt" while this one reloads, commits and saves it: a
// lock that belongs to the folder the file really lies in (an flock on the folder on POSIX, a
// mutex named after the folder's identity on Windows). It leaves no file behind, and the
// system drops it when the process dies, so a crashed window never blocks another. A window
// that holds it is waited for a second at most on an Insert, so that the player is never left
// hanging; on the way out, as long as the end of a session allows.
constexpr int InsertLockWaitMs = 1000;
constexpr int EndingLockWaitMs = 10000;

class ScoreFileLock {
public:
    explicit ScoreFileLock(int waitMs = InsertLockWaitMs);
    ~ScoreFileLock();
    ScoreFileLock(const ScoreFileLock &) = delete;
    ScoreFileLock &operator=(const ScoreFileLock &) = delete;

    // True when another process held the lock for the whole wait: saving now could erase what
    // it is writing.
    bool Busy() const { return busy_; }

    // Why nothing may be saved now, or nullptr while the lock is held: another window kept it,
    // or the folder could not be locked at all (one the player may not read, say). No save goes
    // ahead without the lock, since a window that saved meanwhile would be overwritten unseen.
    const char *Refusal() const
    {
        if (held_ != -1)
            return nullptr;
        return busy_ ? "Another window kept it locked" : refusal_;
    }

private:
    // Fills in the refusal for a folder that could not be locked, named by its full path.
    void CannotLock(const char *folder, const char *why)
    {
        char shown[PATH_MAX];
        FullPathOf(folder, shown);
        std::snprintf(refusal_, sizeof refusal_, "The folder %s could not be locked against other windows: %s", shown,
                      why);
    }

    intptr_t held_ = -1;  // the locked folder's descriptor, or the mutex's handle
    bool busy_ = false;
    char refusal_[PATH_MAX + 128] = {};  // why the folder could not be locked
};
