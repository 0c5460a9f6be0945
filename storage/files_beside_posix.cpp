// Files beside another on POSIX systems: made new and whole (a recovery file of one window,
// never written over), and removed.

#include "file_system.h"

#include "posix_calls.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Made only where the name is free, for this text alone, and whole on the disk, its name
// included, before the program goes on.
bool CreateFileBeside(const char *owner, const char *name, const char *text, size_t length, SaveFailure *failure)
{
    NativePath path;
    if (!PathBeside(owner, name, path))
        return SaveFailed(failure, errno);
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return SaveFailed(failure, errno);
    // Whatever the umask took away, the owner must be able to read it again.
    int error = fchmod(fd, 0600) == 0 && WriteAll(fd, text, length) && fsync(fd) == 0 ? 0 : errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        unlink(path);  // ours alone, and not whole
        return SaveFailed(failure, error);
    }
    // The file is whole; a folder that refuses the sync of its new name could lose it only to a
    // crash of the system in the next moments, and the file is there to be named.
    SyncFolderOf(path);
    return true;
}

bool RemoveFileBeside(const char *owner, const char *name, SaveFailure *failure)
{
    NativePath path;
    if (!PathBeside(owner, name, path))
        return SaveFailed(failure, errno);
    return unlink(path) == 0 || errno == ENOENT || SaveFailed(failure, errno);
}
