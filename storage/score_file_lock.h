#pragma once

#include <cstdint>

// Keeps other windows from saving "Scores.txt" while this one reloads, commits and saves it: a
// lock that belongs to the folder the file really lies in (an flock on the folder on POSIX, a
// mutex named after the folder's identity on Windows). It leaves no file behind, and the
// system drops it when the process dies, so a crashed window never blocks another. A window
// that holds it is waited for a second at most, so that the player is never left hanging.
class ScoreFileLock {
public:
    ScoreFileLock();
    ~ScoreFileLock();
    ScoreFileLock(const ScoreFileLock &) = delete;
    ScoreFileLock &operator=(const ScoreFileLock &) = delete;

    // True when another process held the lock for the whole wait: saving now could erase what
    // it is writing. A folder that cannot be locked at all counts as free, since no other
    // window can lock it either.
    bool Busy() const { return busy_; }

private:
    intptr_t held_ = -1;  // the locked folder's descriptor, or the mutex's handle
    bool busy_ = false;
};
