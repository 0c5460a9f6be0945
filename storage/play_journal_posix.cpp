// The play journal on POSIX systems: only a regular file of at most MaxPlayJournalSize is
// opened at all, looked at before the open and again on what was opened; O_NONBLOCK keeps even
// that open from waiting. It is never the file it lies beside, through a link or under another
// name.

#include "play_journal.h"

#include "posix_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

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
    bool made = false;
    if (stat(path, &info) == 0) {
        if (!IsJournalKind(info, status))
            return -1;
    } else if (errno != ENOENT || (flags & O_CREAT) == 0) {
        return RefuseJournal(status, errno);
    } else {
        made = true;  // by us, in a moment: ours to give its mode
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
    // A umask that takes the owner's own right away would make the next append refuse the file.
    if (made && info.st_uid == geteuid() && (info.st_mode & 0600) != 0600 && fchmod(fd, ModeForNewFile()) == 0)
        info.st_mode |= 0600;
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
    const std::string batch = PlayJournalAppendBytes(info.st_size, last, text, length);
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

bool AppendPlayLinesBeside(const char *owner, const char *text, size_t length, SaveFailure *failure,
                           PlayJournalRefusal *refused)
{
    char path[PATH_MAX];
    if (!PathBeside(owner, PlayJournalName, path))
        return Fail(failure, errno);
    if (LeadsToFileOf(path, owner, false))
        return RefuseOverwriting(failure, owner);
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

bool ReadPlayJournalBeside(const char *owner, PlayJournal &journal, PlayJournalStatus &status)
{
    status = PlayJournalStatus{};
    char path[PATH_MAX];
    if (!PathBeside(owner, PlayJournalName, path)) {
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
