#include "file_system.h"

#include "score_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As the kernel allows: a longer chain of links is a loop.
constexpr int MaxLinkHops = 40;
// A reader of a named pipe is given this long to make room for the rest of the text.
constexpr int PipeWaitMilliseconds = 1000;

void DirectoryOf(const char *path, char (&directory)[PATH_MAX])
{
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(directory, sizeof directory, ".");
    } else {
        int length = slash == path ? 1 : static_cast<int>(slash - path);
        std::snprintf(directory, sizeof directory, "%.*s", length, path);
    }
}

// The rename is only durable once the directory entry itself reaches the disk.
void SyncDirectoryOf(const char *path)
{
    char directory[PATH_MAX];
    DirectoryOf(path, directory);
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

bool Copy(char (&to)[PATH_MAX], const char *from)
{
    if (std::snprintf(to, sizeof to, "%s", from) >= int(sizeof to)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// A score file kept behind a symbolic link (in a synced folder, say) is written where the link
// points, so the link goes on pointing at the current scores; that holds for a link to a file
// not made yet as well, which the save then creates there. A relative link is read from the
// folder the link lies in, as the system reads it.
bool ResolveTarget(const char *name, char (&target)[PATH_MAX])
{
    if (!Copy(target, name))
        return false;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        char link[PATH_MAX];
        const ssize_t length = readlink(target, link, sizeof link - 1);
        if (length < 0)
            return errno == EINVAL || errno == ENOENT;  // no link (any more): this is the file
        link[length] = 0;
        char folder[PATH_MAX] = "";
        if (link[0] != '/' && std::strchr(target, '/') != nullptr) {
            DirectoryOf(target, folder);
            std::strcat(folder, "/");  // DirectoryOf leaves room: it drops at least the last name
        }
        if (std::snprintf(target, sizeof target, "%s%s", folder, link) >= int(sizeof target)) {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    errno = ELOOP;
    return false;
}

bool Fail(SaveFailure *failure, int error)
{
    return SaveFailed(failure, error);
}

bool WriteAll(int fd, const char *text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            pollfd ready{fd, POLLOUT, 0};
            if (poll(&ready, 1, PipeWaitMilliseconds) > 0)
                continue;
            errno = EAGAIN;
            return false;
        }
        if (written <= 0)
            return false;
        text += written;
        length -= size_t(written);
    }
    return true;
}

bool CloseChecked(int fd)
{
    return close(fd) == 0 || errno == EINTR;
}

// New files get the mode the player's umask leaves of 0666, as fopen would give them.
mode_t ModeForNewFile()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A folder the player may not create files in refuses the temporary, while the file in it
// may still be writable.
bool FolderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM;
}

// Opening for writing never waits: not on a named pipe without a reader, not on a device.
int OpenForWriting(const char *target)
{
    return open(target, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// A named pipe or a device takes the text as it comes, as opening it for writing always did.
// A device is then written as any program would write it; a pipe's reader gets a moment to
// make room, and no more.
bool WriteIntoSpecial(const char *target, mode_t type, const char *text, size_t length, SaveFailure *failure)
{
    const int fd = OpenForWriting(target);
    if (fd < 0 && errno == ENXIO && S_ISFIFO(type))
        return SaveFailed(failure, ENXIO, "No program reads from the named pipe");
    if (fd < 0)
        return Fail(failure, errno);
    struct stat opened;
    if (fstat(fd, &opened) != 0 || (opened.st_mode & S_IFMT) != type) {
        const int error = errno;
        close(fd);
        return Fail(failure, error != 0 ? error : EINVAL);
    }
    if (!S_ISFIFO(type))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!WriteAll(fd, text, length)) {
        const int error = errno;
        close(fd);
        return Fail(failure, error);
    }
    return CloseChecked(fd) || Fail(failure, errno);
}

// Yields 0, or the errno of the step that failed.
int ReserveAndRewrite(int fd, const char *text, size_t length)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    // A write past the process's file size limit fails even inside the file's old length.
    rlimit sizeLimit{};
    if (getrlimit(RLIMIT_FSIZE, &sizeLimit) == 0 && sizeLimit.rlim_cur != RLIM_INFINITY && length > sizeLimit.rlim_cur)
        return EFBIG;
    if (length > 0) {
        const int reserved = posix_fallocate(fd, 0, off_t(length));  // gives its error, leaves errno
        if (reserved != 0)
            return reserved;
    }
    if (lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, text, length) || ftruncate(fd, off_t(length)) != 0 ||
        fsync(fd) != 0)
        return errno;
    return 0;
}

// Only an existing regular file is rewritten in place, and only once the room for the whole
// text is reserved: a full disk then fails before the first byte of the old file changes.
bool RewriteInPlace(const char *target, const char *text, size_t length, SaveFailure *failure)
{
    const int fd = OpenForWriting(target);
    if (fd < 0)
        return Fail(failure, errno);
    const int error = ReserveAndRewrite(fd, text, length);
    if (!CloseChecked(fd) && error == 0)
        return Fail(failure, errno);
    return error == 0 || Fail(failure, error);
}

// The temporary is created under a name of its own, beside the file, with O_EXCL: nothing
// someone else made is ever followed, written or removed.
int CreateTemporary(const char *target, char (&tempName)[PATH_MAX])
{
    if (std::snprintf(tempName, sizeof tempName, "%s.tmp-XXXXXX", target) >= int(sizeof tempName)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return mkostemp(tempName, O_CLOEXEC);
}

bool ReplaceThroughTemporary(const char *target, const struct stat *existing, const char *text, size_t length,
                             SaveFailure *failure)
{
    char tempName[PATH_MAX];
    const int fd = CreateTemporary(target, tempName);
    if (fd < 0) {
        const int error = errno;
        if (existing != nullptr && FolderRefusesNewFiles(error))
            return RewriteInPlace(target, text, length, failure);
        char folder[PATH_MAX];
        DirectoryOf(target, folder);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "No temporary file could be made in %s: %s", folder, std::strerror(error));
        return SaveFailed(failure, error, reason);
    }
    int error = 0;
    if (fchmod(fd, existing != nullptr ? existing->st_mode & 07777 : ModeForNewFile()) != 0 ||
        !WriteAll(fd, text, length) || fsync(fd) != 0)
        error = errno;
    if (!CloseChecked(fd) && error == 0)
        error = errno;
    if (error == 0 && std::rename(tempName, target) != 0)
        error = errno;
    if (error != 0) {
        unlink(tempName);
        return Fail(failure, error);
    }
    SyncDirectoryOf(target);
    return true;
}

FileKind FileKindOf(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG:
        return FileKind::Regular;
    case S_IFDIR:
        return FileKind::Directory;
    case S_IFIFO:
        return FileKind::NamedPipe;
    case S_IFCHR:
    case S_IFBLK:
        return FileKind::Device;
    case S_IFSOCK:
        return FileKind::Socket;
    default:
        return FileKind::Other;
    }
}

FILE *Refuse(ScoreFileStatus &status, ScoreFileRefusal refusal, int error = 0)
{
    status.refusal = refusal;
    status.error = error;
    return nullptr;
}

FILE *RefuseFailed(ScoreFileStatus &status, int error)
{
    return Refuse(status, error == ENOENT ? ScoreFileRefusal::Missing : ScoreFileRefusal::Unreadable, error);
}

bool IsReadableKind(const struct stat &info, ScoreFileStatus &status)
{
    if (!S_ISREG(info.st_mode)) {
        status.kind = FileKindOf(info.st_mode);
        Refuse(status, ScoreFileRefusal::NotRegular);
        return false;
    }
    if (info.st_size > MaxScoreFileSize) {
        status.size = info.st_size;
        Refuse(status, ScoreFileRefusal::TooLarge);
        return false;
    }
    return true;
}

}  // namespace

// The kind is looked at before the open, which a device may answer with side effects, and
// again on what was opened, in case the name changed hands in between; O_NONBLOCK keeps even
// that open from waiting on a pipe.
FILE *OpenRegularFile(const char *name, ScoreFileStatus &status)
{
    struct stat info;
    if (stat(name, &info) != 0)
        return RefuseFailed(status, errno);
    if (!IsReadableKind(info, status))
        return nullptr;
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return RefuseFailed(status, errno);
    FILE *stream = nullptr;
    if (fstat(fd, &info) != 0)
        RefuseFailed(status, errno);
    else if (IsReadableKind(info, status) && (stream = fdopen(fd, "r")) == nullptr)
        RefuseFailed(status, errno);
    if (stream == nullptr)
        close(fd);
    return stream;
}

void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX])
{
    char target[PATH_MAX];
    if (ResolveTarget(name, target))
        DirectoryOf(target, folder);
    else
        std::snprintf(folder, sizeof folder, ".");
}

bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure)
{
    char target[PATH_MAX];
    if (!ResolveTarget(name, target))
        return Fail(failure, errno);
    struct stat existing;
    if (stat(target, &existing) != 0) {
        if (errno != ENOENT)
            return Fail(failure, errno);
        return ReplaceThroughTemporary(target, nullptr, text, length, failure);
    }
    if (!S_ISREG(existing.st_mode)) {
        const bool writeInto = special == SpecialTarget::WriteInto &&
                               (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode));
        return writeInto ? WriteIntoSpecial(target, existing.st_mode & S_IFMT, text, length, failure)
                         : SaveFailed(failure, EINVAL, FileKindText(FileKindOf(existing.st_mode)));
    }
    // The rename would replace a file even where the player has taken away the right to write
    // it, so the file must open for writing as it is; nothing is truncated.
    const int probe = OpenForWriting(target);
    if (probe < 0)
        return Fail(failure, errno);
    close(probe);
    return ReplaceThroughTemporary(target, &existing, text, length, failure);
}
