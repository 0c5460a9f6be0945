#include "folder_lock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int LockRetryMs = 10;

}  // namespace

void FolderLock::Take(const char *name, int waitMs)
{
    char folder[PATH_MAX];
    FolderWrittenBy(name, folder);
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        CannotLock(folder, std::strerror(errno));
        return;
    }
    const timespec pause{0, LockRetryMs * 1000L * 1000L};
    const int attempts = std::max(1, waitMs / LockRetryMs);  // one try even without a wait
    int error = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            held_ = fd;
            return;
        }
        error = errno;
        if (error != EWOULDBLOCK && error != EINTR)
            break;
        nanosleep(&pause, nullptr);
    }
    close(fd);
    busy_ = error == EWOULDBLOCK;
    if (!busy_)
        CannotLock(folder, std::strerror(error));
}

void FolderLock::Release()
{
    close(int(held_));  // closing the last descriptor drops the lock
}
