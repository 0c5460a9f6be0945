#include "file_system.h"

#include "play_journal.h"
#include "score_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

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

}  // namespace

void FullPathOf(const char *folder, char (&full)[PATH_MAX])
{
    char current[PATH_MAX];
    const bool relative = folder[0] != '/' && getcwd(current, sizeof current) != nullptr;
    const bool here = std::strcmp(folder, ".") == 0;
    const char *joint = !relative || here || std::strcmp(current, "/") == 0 ? "" : "/";
    const int written = std::snprintf(full, sizeof full, "%s%s%s", relative ? current : "", joint,
                                      relative && here ? "" : folder);
    if (written < 0 || written >= int(sizeof full))
        std::snprintf(full, sizeof full, "%s", folder);  // too long to join: as the name was given
}

namespace {

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

// A write that takes nothing without an error can only mean that no room was left. What was
// written before a failure is counted, for the message about a reader that took no more.
bool WriteAll(int fd, const char *text, size_t length, size_t &total)
{
    total = 0;
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

// A folder the player may not create files in refuses the temporary, and a sticky folder the
// rename over another user's file, while the file in it may still be writable.
bool FolderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM;
}

// Opening never waits: not on a named pipe without a reader, not on a device.
int OpenForWriting(const char *target, int access = O_WRONLY)
{
    return open(target, access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// A file system that cannot hold a mode at all (FAT through FUSE) or not this one (the kernel's
// FAT, whose files all share the mount's mode) keeps what it can; that is no failed save.
bool ModeCannotBeHeld(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// The file's mode decides, for root as well, whom the system would let write anyway.
bool MadeReadOnly(const struct stat &info)
{
    if ((info.st_mode & 0222) == 0)
        return true;
    return info.st_uid == geteuid() && (info.st_mode & S_IWUSR) == 0;
}

// A named pipe or a device takes the text as it comes, as opening it for writing always did.
// Its reader gets a second to make room each time it is full, and no more: a stopped printer
// or a suspended terminal never holds the window.
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
    size_t written = 0;
    if (!WriteAll(fd, text, length, written)) {
        const int error = errno;
        close(fd);
        if (error != EAGAIN)
            return Fail(failure, error);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "%s took nothing more for a second; %zu of %zu bytes were written",
                      S_ISFIFO(type) ? "The named pipe" : "The device", written, length);
        return SaveFailed(failure, error, reason);
    }
    return CloseChecked(fd) || Fail(failure, errno);
}

// Puts back what a rewrite in place changed: the bytes the new text covered and the old length.
void PutBack(int fd, const char *old, size_t covered, off_t oldLength)
{
    if (lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, old, covered) && ftruncate(fd, oldLength) == 0)
        fsync(fd);
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

// Yields 0, or the errno of the step that failed. The old bytes that the new text will cover
// are kept, so that a failure after the first byte leaves the file as it was after all; the
// shortening comes last, once the new text is on the disk.
int ReserveAndRewrite(int fd, const char *text, size_t length)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    const size_t covered = size_t(info.st_size) < length ? size_t(info.st_size) : length;
    const std::unique_ptr<char[]> old(new char[covered + 1]);
    if (!ReadAll(fd, old.get(), covered))
        return errno;
    int error = length > 0 ? posix_fallocate(fd, 0, off_t(length)) : 0;  // gives its error, leaves errno
    if (error == 0 && (lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, text, length) || fsync(fd) != 0 ||
                       ftruncate(fd, off_t(length)) != 0))
        error = errno;
    if (error != 0) {
        PutBack(fd, old.get(), covered, info.st_size);
        return error;
    }
    return fsync(fd) == 0 ? 0 : errno;
}

// Only an existing regular file is rewritten in place, and only once the room for the whole
// text is reserved: a full disk then fails before the first byte of the old file changes. The
// descriptor reads as well: the old text is kept, and the C library reserves room by reading
// each block where the file system cannot.
bool RewriteInPlace(const char *target, const char *text, size_t length, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    if (!check.Holds())
        return ChangedMeanwhile(failure);
    const int fd = OpenForWriting(target, O_RDWR);
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

// The temporary takes the old file's owner, group and mode, or a new file's mode. Yields false
// where the system will not give it that owner or group (a folder shared through a group,
// another user's file): replacing would take the file from them.
bool TakeOverOwnerAndMode(int fd, const struct stat *existing, int &error)
{
    struct stat made;
    if (fstat(fd, &made) != 0) {
        error = errno;
        return true;
    }
    const bool otherOwner = existing != nullptr && (made.st_uid != existing->st_uid || made.st_gid != existing->st_gid);
    if (otherOwner && fchown(fd, existing->st_uid, existing->st_gid) != 0)
        return false;
    const mode_t mode = existing != nullptr ? existing->st_mode & 07777 : ModeForNewFile();
    if ((otherOwner || (made.st_mode & 07777) != mode) && fchmod(fd, mode) != 0 && !ModeCannotBeHeld(errno))
        error = errno;
    return true;
}

// A rename the folder refuses (a sticky folder, over another user's file), or one a file system
// cannot make over an existing file (FAT through some FUSE servers answers EEXIST), leaves the
// file to be rewritten in place.
bool RenameRefused(int error)
{
    return FolderRefusesNewFiles(error) || error == EEXIST || error == ENOSYS || error == EOPNOTSUPP;
}

bool ReplaceThroughTemporary(const char *target, const struct stat *existing, const char *text, size_t length,
                             SaveFailure *failure, const ReplaceCheck &check)
{
    char tempName[PATH_MAX];
    const int fd = CreateTemporary(target, tempName);
    if (fd < 0) {
        const int error = errno;
        if (existing != nullptr && FolderRefusesNewFiles(error))
            return RewriteInPlace(target, text, length, failure, check);
        char folder[PATH_MAX], shown[PATH_MAX];
        DirectoryOf(target, folder);
        FullPathOf(folder, shown);
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "No temporary file could be made in %s: %s", shown, std::strerror(error));
        return SaveFailed(failure, error, reason);
    }
    int error = 0;
    bool inPlace = !TakeOverOwnerAndMode(fd, existing, error);
    if (!inPlace && error == 0 && (!WriteAll(fd, text, length) || fsync(fd) != 0))
        error = errno;
    if (!CloseChecked(fd) && error == 0)
        error = errno;
    if (!inPlace && error == 0 && !check.Holds()) {
        unlink(tempName);
        return ChangedMeanwhile(failure);
    }
    if (!inPlace && error == 0 && std::rename(tempName, target) != 0) {
        error = errno;
        inPlace = existing != nullptr && RenameRefused(error);
    }
    if (inPlace || error != 0)
        unlink(tempName);
    if (inPlace)
        return RewriteInPlace(target, text, length, failure, check);
    if (error != 0)
        return Fail(failure, error);
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

bool WriteWholeFile(const char *name, const char *text, size_t length, SpecialTarget special, SaveFailure *failure,
                    const ReplaceCheck &check)
{
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
    const int probe = OpenForWriting(target);
    if (probe < 0)
        return Fail(failure, errno);
    close(probe);
    return ReplaceThroughTemporary(target, &existing, text, length, failure, check);
}

// The play journal: only a regular file of at most MaxPlayJournalSize is opened at all, looked
// at before the open and again on what was opened; O_NONBLOCK keeps even that open from waiting.
namespace {

bool JournalPath(char (&path)[PATH_MAX])
{
    char folder[PATH_MAX];
    FolderWrittenBy(ScoreFileName, folder);
    if (std::snprintf(path, sizeof path, "%s/%s", folder, PlayJournalName) >= int(sizeof path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool IsJournalKind(const struct stat &info, PlayJournalStatus &status)
{
    status.kind = FileKindOf(info.st_mode);
    status.size = info.st_size;
    if (!S_ISREG(info.st_mode))
        status.refusal = PlayJournalRefusal::NotRegular;
    else if (info.st_size > MaxPlayJournalSize)
        status.refusal = PlayJournalRefusal::TooLarge;
    return status.refusal == PlayJournalRefusal::None;
}

int RefuseJournal(PlayJournalStatus &status, int error)
{
    status.refusal = error == ENOENT ? PlayJournalRefusal::Missing : PlayJournalRefusal::Unreadable;
    status.error = error;
    return -1;
}

// Yields the descriptor, or -1 with status telling why; info is what was opened.
int OpenJournal(const char *path, int flags, struct stat &info, PlayJournalStatus &status)
{
    if (stat(path, &info) == 0) {
        if (!IsJournalKind(info, status))
            return -1;
    } else if (errno != ENOENT || (flags & O_CREAT) == 0) {
        return RefuseJournal(status, errno);
    }
    const int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);  // the umask applies
    if (fd < 0)
        return RefuseJournal(status, errno);
    status = PlayJournalStatus{};
    if (fstat(fd, &info) != 0 || !IsJournalKind(info, status)) {
        if (status.refusal == PlayJournalRefusal::None)
            RefuseJournal(status, errno);
        close(fd);
        return -1;
    }
    return fd;
}

// The header for a new file, a line end after a torn last line, then the text: one write.
bool AppendTo(int fd, const struct stat &info, const char *text, size_t length, SaveFailure *failure)
{
    if (MadeReadOnly(info))
        return Fail(failure, EACCES);  // root could write it; the player said no
    char last = '\n';
    if (info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) != 1)
        return Fail(failure, errno);
    const std::vector<char> batch = PlayJournalAppendBytes(info.st_size, last, text, length, "\n");
    // A limit on the size of the files this process writes would cut the write short; a room
    // reserved beyond the end does not count against it.
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        rlim_t(info.st_size) + batch.size() > limit.rlim_cur)
        return Fail(failure, EFBIG);
#ifdef __linux__
    // A full disk fails here, before a byte is written.
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, info.st_size, off_t(batch.size())) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS)
        return Fail(failure, errno);
#endif
    ssize_t written;
    do
        written = write(fd, batch.data(), batch.size());
    while (written < 0 && errno == EINTR);
    if (written < 0)
        return Fail(failure, errno);
    if (size_t(written) < batch.size()) {
        char reason[sizeof SaveFailure::reason];
        std::snprintf(reason, sizeof reason, "Only %zd of %zu bytes could be written: %s", written, batch.size(),
                      std::strerror(ENOSPC));
        return SaveFailed(failure, ENOSPC, reason);
    }
    return fdatasync(fd) == 0 || Fail(failure, errno);
}

}  // namespace

bool AppendPlayLines(const char *text, size_t length, SaveFailure *failure, PlayJournalRefusal *refused)
{
    char path[PATH_MAX];
    if (!JournalPath(path))
        return Fail(failure, errno);
    struct stat info;
    PlayJournalStatus status;
    const int fd = OpenJournal(path, O_RDWR | O_APPEND | O_CREAT, info, status);
    if (fd < 0) {
        if (refused != nullptr)
            *refused = status.refusal;
        return RefuseAppend(status, failure);
    }
    const bool appended = AppendTo(fd, info, text, length, failure);
    if (!CloseChecked(fd) && appended)
        return Fail(failure, errno);
    return appended;
}

bool ReadPlayJournal(PlayJournal &journal, PlayJournalStatus &status)
{
    status = PlayJournalStatus{};
    char path[PATH_MAX];
    if (!JournalPath(path)) {
        RefuseJournal(status, errno);
        return false;
    }
    struct stat info;
    const int fd = OpenJournal(path, O_RDONLY, info, status);
    if (fd < 0 && status.refusal == PlayJournalRefusal::Missing)
        journal = PlayJournal{};
    if (fd < 0)
        return status.refusal == PlayJournalRefusal::Missing;
    const bool read = ReadPlayJournalThrough(journal, status, info.st_size, [&](char *into, size_t room) {
        ssize_t got;
        do
            got = ::read(fd, into, room);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            status.error = errno;
        return int64_t(got);
    });
    close(fd);
    return read;
}
