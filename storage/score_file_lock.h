#pragma once

// Keeps other windows from saving "Scores.txt" while this one reloads, commits and saves it:
// an exclusive flock on the folder that holds the file. It leaves no file behind, and the
// kernel drops it when the process dies, so a crashed window never blocks another. A window
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
    int folder_ = -1;
    bool busy_ = false;
};
