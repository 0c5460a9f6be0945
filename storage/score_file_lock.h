#pragma once

#include "folder_lock.h"

// Keeps other windows from saving "Scores.txt" while this one reloads, commits and saves it:
// the lock of the folder the file really lies in (see FolderLock), which the play journal and
// the recovery files beside it share. A window that holds it is waited for a second at most on
// an Insert, so that the player is never left hanging; on the way out, as long as the end of a
// session allows. No save goes ahead without it, since a window that saved meanwhile would be
// overwritten unseen.
constexpr int InsertLockWaitMs = 1000;
constexpr int EndingLockWaitMs = 10000;

class ScoreFileLock : public FolderLock {
public:
    explicit ScoreFileLock(int waitMs = InsertLockWaitMs);
};
