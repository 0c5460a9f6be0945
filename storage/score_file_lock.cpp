#include "score_file_lock.h"

#include "score_file.h"

// Two windows started beside two links to one score file meet at the file itself.
ScoreFileLock::ScoreFileLock(int waitMs) : FolderLock(ScoreFileName, waitMs) {}
