#include "recovery_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "score_file.h"

namespace {

// The slot's name in the folder Scores.txt is written into, as the calls take it; false when it
// would not fit.
bool SlotName(int slot, char (&name)[PATH_MAX])
{
    char folder[PATH_MAX];
    FolderWrittenBy(ScoreFileName, folder);
    char file[64];
    std::snprintf(file, sizeof file, RecoveryFileNameFormat, slot + 1);
    const bool joined = folder[0] != 0 && folder[std::strlen(folder) - 1] == '/';
    const int length = std::snprintf(name, sizeof name, "%s%s%s", folder, joined ? "" : "/", file);
    return length > 0 && length < int(sizeof name);
}

bool WriteAll(int fd, const char *text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        text += written;
        length -= size_t(written);
    }
    return true;
}

}  // namespace

FILE *OpenRecoveryFile(int slot, ScoreFileStatus &status)
{
    char name[PATH_MAX];
    return SlotName(slot, name) ? OpenRegularFile(name, status) : nullptr;
}

// Made only where the name is free (a link there, even a dangling one, counts as taken), for
// this text alone, and whole on the disk, its name included, before the window ends.
bool CreateRecoveryFile(int slot, const char *text, size_t length, SaveFailure *failure)
{
    char name[PATH_MAX];
    if (!SlotName(slot, name))
        return SaveFailed(failure, ENAMETOOLONG);
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return SaveFailed(failure, errno);
    // Whatever the umask took away, the next window must be able to read it.
    int error = fchmod(fd, 0600) == 0 && WriteAll(fd, text, length) && fsync(fd) == 0 ? 0 : errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        unlink(name);  // ours alone, and not whole
        return SaveFailed(failure, error);
    }
    // The file is whole and says so; a folder that refuses the sync of its new name could lose
    // it only to a crash of the system in the next moments, and the file is there to be named.
    char folder[PATH_MAX];
    FolderWrittenBy(ScoreFileName, folder);
    const int folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

bool RemoveRecoveryFile(int slot, SaveFailure *failure)
{
    char name[PATH_MAX];
    if (!SlotName(slot, name))
        return SaveFailed(failure, ENAMETOOLONG);
    return unlink(name) == 0 || errno == ENOENT || SaveFailed(failure, errno);
}
