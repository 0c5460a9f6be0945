#include "score_file_lock.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "score_file.h"

namespace {

constexpr int LockAttempts = 100;
constexpr long LockRetryNanoseconds = 10 * 1000 * 1000;  // 100 tries of 10 ms: one second

// The folder of the file that is really written: a Scores.txt that links elsewhere is
// replaced where it points, so windows started beside two links to one file meet there.
void FolderOfScoreFile(char (&folder)[PATH_MAX])
{
    char target[PATH_MAX];
    struct stat link;
    std::snprintf(folder, sizeof folder, ".");
    if (lstat(ScoreFileName, &link) != 0 || !S_ISLNK(link.st_mode) || realpath(ScoreFileName, target) == nullptr)
        return;
    const char *slash = std::strrchr(target, '/');
    int length = slash == target ? 1 : static_cast<int>(slash - target);
    std::snprintf(folder, sizeof folder, "%.*s", length, target);
}

}  // namespace

ScoreFileLock::ScoreFileLock()
{
    char folder[PATH_MAX];
    FolderOfScoreFile(folder);
    folder_ = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0)
        return;
    const timespec pause{0, LockRetryNanoseconds};
    int error = 0;
    for (int attempt = 0; attempt < LockAttempts; ++attempt) {
        if (flock(folder_, LOCK_EX | LOCK_NB) == 0)
            return;
        error = errno;
        if (error != EWOULDBLOCK && error != EINTR)
            break;  // a folder that cannot be locked at all
        nanosleep(&pause, nullptr);
    }
    busy_ = error == EWOULDBLOCK;
    close(folder_);
    folder_ = -1;
}

ScoreFileLock::~ScoreFileLock()
{
    if (folder_ >= 0)
        close(folder_);  // closing the last descriptor drops the lock
}
