// The rewrite of a file in place, for where a replace cannot serve: a folder that refuses new
// files, a rename the system refuses (a file mounted over another), a name too long for a
// temporary, no free inode, a file with more than one name, or attributes a temporary cannot
// take. It is not crash-proof, so the old text is first copied to a file of our own beside it,
// which is removed only once the new text is on the disk.

#include "posix_calls.h"
#include "writer_seams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Room for ".old-XXXXXX" in a file name of at most 255 bytes.
constexpr int ShortenedNameLength = 200;

// Puts back what a rewrite in place changed: the bytes the new text covered and the old length.
bool PutBack(int fd, const char *old, size_t covered, off_t oldLength)
{
    return lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, old, covered) && ftruncate(fd, oldLength) == 0 &&
           fsync(fd) == 0;
}

// The old text, whole, in a file of our own beside target (mode 0600: it widens nothing),
// synced with its folder's entry. False where none can be made, such as in the folder that
// refused the temporary: the old bytes the rewrite covers are then kept in memory only.
bool KeepOldText(int fd, off_t size, const char *target, char (&copy)[PATH_MAX])
{
    int out = CreateOwnFile(target, ".old-", copy);
    if (out < 0 && errno == ENAMETOOLONG) {
        // a name too long for the suffix (why the temporary failed, too): cut to leave it room
        const char *slash = std::strrchr(target, '/');
        const int folderLength = slash != nullptr ? int(slash - target) + 1 : 0;
        char shorter[PATH_MAX];
        std::snprintf(shorter, sizeof shorter, "%.*s%.*s", folderLength, target, ShortenedNameLength, target + folderLength);
        out = CreateOwnFile(shorter, ".old-", copy);
    }
    if (out < 0) {
        copy[0] = 0;
        return false;
    }
    const std::unique_ptr<char[]> piece(new char[64 * 1024]);
    bool kept = true;
    for (off_t at = 0; kept && at < size;) {
        const ssize_t got = pread(fd, piece.get(), 64 * 1024, at);
        if (got < 0 && errno == EINTR)
            continue;
        kept = got > 0 && WriteAll(out, piece.get(), size_t(got));
        at += got;
    }
    kept = fsync(out) == 0 && kept;
    kept = CloseChecked(out) && kept && SyncFolderOf(copy) == 0;
    if (!kept) {
        unlink(copy);
        copy[0] = 0;
    }
    return kept;
}

struct Rewritten {
    int error = 0;
    bool damaged = false;   // the old text could not be put back
    bool unsynced = false;  // the new text is there, but its sync failed
};

// The old bytes that the new text will cover are kept, so that a failure after the first byte
// leaves the file as it was after all; the shortening comes last, once the new text is on the
// disk. Only once the room for the whole text is reserved: a full disk then fails before the
// first byte of the old file changes. The C library reserves room by reading each block where
// the file system cannot, which is why the descriptor reads as well.
Rewritten ReserveAndRewrite(int fd, const struct stat &info, const char *text, size_t length)
{
    const size_t covered = size_t(info.st_size) < length ? size_t(info.st_size) : length;
    const std::unique_ptr<char[]> old(new char[covered + 1]);
    if (!ReadAll(fd, old.get(), covered))
        return {errno};
    int error = length > 0 ? posix_fallocate(fd, 0, off_t(length)) : 0;  // gives its error, leaves errno
    if (error == 0 && (lseek(fd, 0, SEEK_SET) != 0 || !WriteAll(fd, text, length) ||
                       writerSeams.syncRewritten(fd) != 0 || ftruncate(fd, off_t(length)) != 0))
        error = errno;
    if (error != 0)
        return {error, !PutBack(fd, old.get(), covered, info.st_size)};
    return writerSeams.syncRewritten(fd) == 0 ? Rewritten{} : Rewritten{errno, false, true};
}

// A path for a message: a relative one joined to the folder the program runs in.
void ShownPath(const char *path, char (&shown)[PATH_MAX])
{
    char folder[PATH_MAX], full[PATH_MAX];
    DirectoryOf(path, folder);
    FullPathOf(folder, full);
    const char *slash = std::strrchr(path, '/');
    const char *base = slash != nullptr ? slash + 1 : path;
    if (std::snprintf(shown, sizeof shown, "%s%s%s", full, std::strcmp(full, "/") == 0 ? "" : "/", base) >=
        int(sizeof shown))
        std::snprintf(shown, sizeof shown, "%s", path);
}

}  // namespace

bool RewriteInPlace(const char *target, const char *text, size_t length, SaveFailure *failure,
                    const ReplaceCheck &check)
{
    const int fd = OpenForWriting(target, O_RDWR);
    if (fd < 0)
        return Fail(failure, errno);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISREG(info.st_mode) ? errno : EINVAL;  // fstat's failure leaves no kind
        close(fd);
        return Fail(failure, error);
    }
    char copy[PATH_MAX];
    KeepOldText(fd, info.st_size, target, copy);
    const bool holds = check.Holds();
    Rewritten done = holds ? ReserveAndRewrite(fd, info, text, length) : Rewritten{};
    if (!CloseChecked(fd) && done.error == 0 && holds)
        done = {errno, false, true};
    const bool keepCopy = done.damaged || done.unsynced;
    if (copy[0] != 0 && !keepCopy)
        unlink(copy);
    if (!holds)
        return ChangedMeanwhile(failure);
    char shown[PATH_MAX] = "";
    if (keepCopy && copy[0] != 0)
        ShownPath(copy, shown);
    return done.error == 0 || FailRewrite(failure, done.error, done.damaged, shown);
}
