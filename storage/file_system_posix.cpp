#include "file_system.h"

#include "posix_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

WriterSeams writerSeams = {::rename, ::mkostemp, ::fsync, ::fsync, ::fdopen};

const char LineEndOnDisk[] = "\n";

namespace {

// A reader of a named pipe or a device is given this long for the whole text, and no more.
constexpr int PipeWaitMilliseconds = 1000;

}  // namespace

int SyncFolderOf(const char *path)
{
    char directory[PATH_MAX];
    DirectoryOf(path, directory);
    const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;  // a folder we may write but not read (mode 0300) cannot be opened to sync
    int error = writerSeams.syncFolder(fd) == 0 ? 0 : errno;
    close(fd);
    if (error == EINVAL || error == EROFS || error == ENOTSUP || error == EOPNOTSUPP)
        error = 0;  // a file system that syncs no folder, the way it syncs no file of its own either
    return error;
}

long long MonotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Fail(SaveFailure *failure, int error)
{
    return SaveFailed(failure, error);
}

// A write that takes nothing without an error can only mean that no room was left.
bool WriteAll(int fd, const char *text, size_t length, size_t &total, long long deadline)
{
    total = 0;
    while (length > 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            const long long left = deadline - MonotonicMilliseconds();
            pollfd ready{fd, POLLOUT, 0};
            if (left > 0 && poll(&ready, 1, int(left)) > 0)
                continue;
            errno = EAGAIN;
            return false;
        }
        if (written == 0)
            errno = ENOSPC;
        if (written <= 0)
            return false;
        text += written;
        length -= size_t(written);
        total += size_t(written);
    }
    return true;
}

bool WriteAll(int fd, const char *text, size_t length)
{
    size_t written = 0;
    return WriteAll(fd, text, length, written);
}

bool ReadAll(int fd, char *into, size_t length)
{
    while (length > 0) {
        const ssize_t got = read(fd, into, length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            errno = got == 0 ? EIO : errno;
            return false;
        }
        into += got;
        length -= size_t(got);
    }
    return true;
}

bool CloseChecked(int fd)
{
    return close(fd) == 0 || errno == EINTR;
}

int OpenForWriting(const char *target, int access)
{
    return open(target, access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int CreateOwnFile(const char *base, const char *suffix, char (&name)[PATH_MAX])
{
    if (std::snprintf(name, sizeof name, "%s%sXXXXXX", base, suffix) >= int(sizeof name)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return writerSeams.makeTemporary(name, O_CLOEXEC);
}

// As fopen would, but a umask of 0222 would otherwise make a file the next save refuses.
mode_t ModeForNewFile()
{
    const mode_t mask = umask(0);
    umask(mask);
    return (0666 & ~mask) | S_IRUSR | S_IWUSR;
}

namespace {

// A folder the player may not create files in refuses the temporary, and a sticky folder the
// rename over another user's file, while the file in it may still be writable.
bool FolderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM;
}

// A file system that cannot hold a mode at all (FAT through FUSE) or not this one (the kernel's
// FAT, whose files all share the mount's mode) keeps what it can; that is no failed save.
bool ModeCannotBeHeld(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// A named pipe or a device takes the text as it comes, as opening it for writing always did.
// Its reader gets a second for the whole text, and no more: a stopped printer, a suspended
// terminal or a reader that takes a little now and then never holds the window.
bool WriteIntoSpecial(const char *target, mode_t type, const char *text, size_t length, SaveFailure *failure)
{
    const long long deadline = MonotonicMilliseconds() + PipeWaitMilliseconds;
    const int fd = OpenForWriting(target, O_WRONLY);
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
    size_t written = 0;
    if (!WriteAll(fd, text, length, written, deadline)) {
        const int error = errno;
        close(fd);
        if (error != EAGAIN)
            return Fail(failure, error);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "%s did not take it all within a second; %zu of %zu bytes were written",
                      S_ISFIFO(type) ? "The named pipe" : "The device", written, length);
        return SaveFailed(failure, error, reason);
    }
    return CloseChecked(fd) || Fail(failure, errno);
}

// The temporary is created under a name of its own, beside the file, with O_EXCL: nothing
// someone else made is ever followed, written or removed.
int CreateTemporary(const char *target, char (&tempName)[PATH_MAX])
{
    return CreateOwnFile(target, ".tmp-", tempName);
}

// The temporary takes the old file's owner, group, extended attributes and mode, or a new
// file's mode. Yields false where the system will not give it the owner or group (a folder
// shared through a group, another user's file) or an attribute: replacing would take the file
// from them. An ACL's copy sets the mode's group bits to the ACL's mask, so the mode is set
// after it, and only where it still differs: a chmod would make the mask the owning group's.
bool TakeOverOwnerAndMode(int fd, const char *target, const struct stat *existing, int &error)
{
    struct stat made;
    if (fstat(fd, &made) != 0) {
        error = errno;
        return true;
    }
    const bool otherOwner = existing != nullptr && (made.st_uid != existing->st_uid || made.st_gid != existing->st_gid);
    if (otherOwner && fchown(fd, existing->st_uid, existing->st_gid) != 0)
        return false;
    if (existing != nullptr && !CopyExtendedAttributes(target, fd))
        return false;
    if (existing != nullptr && fstat(fd, &made) != 0) {
        error = errno;
        return true;
    }
    const mode_t mode = existing != nullptr ? existing->st_mode & 07777 : ModeForNewFile();
    if ((made.st_mode & 07777) != mode && fchmod(fd, mode) != 0 && !ModeCannotBeHeld(errno))
        error = errno;
    return true;
}

// A rename the folder refuses (a sticky folder, over another user's file), one a file system
// cannot make over an existing file (FAT through some FUSE servers answers EEXIST), or one over
// a file mounted there (EBUSY; EXDEV from another file system) leaves the file to be rewritten
// in place.
bool RenameRefused(int error)
{
    return FolderRefusesNewFiles(error) || error == EEXIST || error == ENOSYS || error == EOPNOTSUPP ||
           error == EBUSY || error == EXDEV;
}

// A temporary that cannot be named (a name near the longest allowed) or made (no inode left,
// or none the player's quota allows) leaves a file that exists to be rewritten in place.
bool TemporaryRefused(int error)
{
    return FolderRefusesNewFiles(error) || error == ENAMETOOLONG || error == ENOSPC || error == EDQUOT;
}

// The new text is in place; a folder whose sync failed may lose the rename in a crash, and the
// player is told, so that what was saved stays marked as not saved until a save makes it.
bool FailFolderSync(const char *target, int error, SaveFailure *failure)
{
    char folder[PATH_MAX], shown[PATH_MAX];
    DirectoryOf(target, folder);
    FullPathOf(folder, shown);
    char reason[sizeof SaveFailure::reason];
    std::snprintf(reason, sizeof reason,
                  "The new text is in place, but the folder %s could not be synced (%s): it may not survive a crash",
                  shown, std::strerror(error));
    return SaveFailed(failure, error, reason);
}

bool ReplaceThroughTemporary(const char *target, const struct stat *existing, const char *text, size_t length,
                             SaveFailure *failure, const ReplaceCheck &check)
{
    char tempName[PATH_MAX];
    const int fd = CreateTemporary(target, tempName);
    if (fd < 0) {
        const int error = errno;
        if (existing != nullptr && TemporaryRefused(error))
            return RewriteInPlace(target, text, length, failure, check);
        char folder[PATH_MAX], shown[PATH_MAX];
        DirectoryOf(target, folder);
        FullPathOf(folder, shown);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "No temporary file could be made in %s: %s", shown, std::strerror(error));
        return SaveFailed(failure, error, reason);
    }
    int error = 0;
    bool inPlace = !TakeOverOwnerAndMode(fd, target, existing, error);
    if (!inPlace && error == 0 && (!WriteAll(fd, text, length) || fsync(fd) != 0))
        error = errno;
    if (!CloseChecked(fd) && error == 0)
        error = errno;
    if (!inPlace && error == 0 && !check.Holds()) {
        unlink(tempName);
        return ChangedMeanwhile(failure);
    }
    if (!inPlace && error == 0 && writerSeams.rename(tempName, target) != 0) {
        error = errno;
        inPlace = existing != nullptr && RenameRefused(error);
    }
    if (inPlace || error != 0)
        unlink(tempName);
    if (inPlace)
        return RewriteInPlace(target, text, length, failure, check);
    if (error != 0)
        return Fail(failure, error);
    const int synced = SyncFolderOf(target);
    return synced == 0 || FailFolderSync(target, synced, failure);
}

}  // namespace

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

bool MadeReadOnly(const struct stat &info)
{
    if ((info.st_mode & 0222) == 0)
        return true;
    return info.st_uid == geteuid() && (info.st_mode & S_IWUSR) == 0;
}

namespace {

FILE *Refuse(FileStatus &status, FileRefusal refusal, int error = 0)
{
    status.refusal = refusal;
    status.error = error;
    return nullptr;
}

FILE *RefuseFailed(FileStatus &status, int error)
{
    return Refuse(status, error == ENOENT ? FileRefusal::Missing : FileRefusal::Unreadable, error);
}

bool IsReadableKind(const struct stat &info, int64_t maxSize, FileStatus &status)
{
    if (!S_ISREG(info.st_mode)) {
        status.kind = FileKindOf(info.st_mode);
        Refuse(status, FileRefusal::NotRegular);
        return false;
    }
    if (info.st_size > maxSize) {
        status.size = info.st_size;
        Refuse(status, FileRefusal::TooLarge);
        return false;
    }
    return true;
}

}  // namespace

// The kind is looked at before the open, which a device may answer with side effects, and
// again on what was opened, in case the name changed hands in between; O_NONBLOCK keeps even
// that open from waiting on a pipe.
FILE *OpenRegularFile(const char *name, int64_t maxSize, FileStatus &status)
{
    RememberCurrentDirectory();
    struct stat info;
    if (stat(name, &info) != 0)
        return RefuseFailed(status, errno);
    if (!IsReadableKind(info, maxSize, status))
        return nullptr;
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return RefuseFailed(status, errno);
    FILE *stream = nullptr;
    if (fstat(fd, &info) != 0)
        RefuseFailed(status, errno);
    else if (IsReadableKind(info, maxSize, status) && (stream = writerSeams.openStream(fd, "r")) == nullptr)
        RefuseFailed(status, errno);
    if (stream == nullptr)
        close(fd);
    return stream;
}

bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    RememberCurrentDirectory();
    char target[PATH_MAX];
    if (!ResolveTarget(name, target))
        return Fail(failure, errno);
    struct stat existing;
    if (stat(target, &existing) != 0) {
        if (errno != ENOENT)
            return Fail(failure, errno);
        return ReplaceThroughTemporary(target, nullptr, text, length, failure, check);
    }
    if (!S_ISREG(existing.st_mode)) {
        const bool writeInto = special == SpecialTarget::WriteInto &&
                               (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode));
        return writeInto ? WriteIntoSpecial(target, existing.st_mode & S_IFMT, text, length, failure)
                         : SaveFailed(failure, EINVAL, FileKindText(FileKindOf(existing.st_mode)));
    }
    // The rename would replace a file even where the player has taken away the right to write
    // it, so the file must open for writing as it is; nothing is truncated.
    if (MadeReadOnly(existing))
        return Fail(failure, EACCES);
    const int probe = OpenForWriting(target, O_WRONLY);
    if (probe < 0)
        return Fail(failure, errno);
    close(probe);
    // A file with more names than one keeps them all: a replace would leave the others the old text.
    if (existing.st_nlink > 1)
        return RewriteInPlace(target, text, length, failure, check);
    return ReplaceThroughTemporary(target, &existing, text, length, failure, check);
}


