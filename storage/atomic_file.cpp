#include "atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Larger than any score or print file (at most 41 KiB and 17 KiB), so that an in-place
// rewrite reaches the file in one write, at Commit, or not at all.
constexpr size_t InPlaceBufferSize = 64 * 1024;

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

// A score file kept behind a symbolic link (in a synced folder, say) is replaced where it
// lies, so the link goes on pointing at the current scores. Anything else, a dangling link
// included, is replaced under its own name.
bool ResolveTarget(const char *name, char (&target)[PATH_MAX])
{
    struct stat link;
    if (lstat(name, &link) == 0 && S_ISLNK(link.st_mode) && realpath(name, target) != nullptr)
        return true;
    if (std::strlen(name) >= sizeof target) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::strcpy(target, name);
    return true;
}

// The rename would replace a file even where the player has taken away the right to write
// it, so an existing target must be open for writing as it is. Nothing is truncated, and
// O_NONBLOCK keeps a FIFO without a reader from hanging the window.
bool ExistingTargetIsWritable(const char *target)
{
    int fd = open(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno == ENOENT;
}

// A temporary left by a killed run is removed first, and O_EXCL refuses to follow a link
// someone placed under its name.
FILE *CreateTemporary(const char *tempName, const char *finalName)
{
    if (unlink(tempName) != 0 && errno != ENOENT)
        return nullptr;
    int fd = open(tempName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat existing;
    if (stat(finalName, &existing) == 0)
        fchmod(fd, existing.st_mode & 07777);
    FILE *stream = fdopen(fd, "w");
    if (stream == nullptr) {
        int error = errno;
        close(fd);
        unlink(tempName);
        errno = error;
    }
    return stream;
}

// A folder the player may not create files in refuses the temporary, while the file in it
// may still be writable.
bool FolderRefusesNewFiles(int error)
{
    return error == EACCES || error == EPERM;
}

}  // namespace

void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX])
{
    char target[PATH_MAX];
    if (ResolveTarget(name, target))
        DirectoryOf(target, folder);
    else
        std::snprintf(folder, sizeof folder, ".");
}

AtomicFileWriter::AtomicFileWriter(const char *finalName) : finalName_{}, tempName_{}
{
    if (!ResolveTarget(finalName, finalName_) || !ExistingTargetIsWritable(finalName_)) {
        Fail(errno);
        return;
    }
    int length = std::snprintf(tempName_, sizeof tempName_, "%s.tmp", finalName_);
    if (length < 0 || static_cast<size_t>(length) >= sizeof tempName_) {
        tempName_[0] = 0;
        Fail(ENAMETOOLONG);
        return;
    }
    stream_ = CreateTemporary(tempName_, finalName_);
    if (stream_ == nullptr) {
        int error = errno != 0 ? errno : EIO;
        tempName_[0] = 0;  // nothing of ours to remove
        if (!FolderRefusesNewFiles(error) || !OpenInPlace())
            error_ = error;
    }
}

// Only an existing regular file is rewritten in place. Its text stays in the stream's buffer
// until Commit, so that a failure before then leaves the file untouched.
bool AtomicFileWriter::OpenInPlace()
{
    static char buffer[InPlaceBufferSize];  // one writer at a time: the program has one thread
    int fd = open(finalName_, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    FILE *stream = nullptr;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (stream = fdopen(fd, "w")) == nullptr) {
        close(fd);
        return false;
    }
    if (setvbuf(stream, buffer, _IOFBF, sizeof buffer) != 0) {
        std::fclose(stream);
        return false;
    }
    stream_ = stream;
    inPlace_ = true;
    return true;
}

AtomicFileWriter::~AtomicFileWriter()
{
    Discard();
}

void AtomicFileWriter::Print(const char *format, ...)
{
    if (stream_ == nullptr || error_ != 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    int written = std::vfprintf(stream_, format, arguments);
    va_end(arguments);
    if (written < 0)
        Fail(errno);
}

bool AtomicFileWriter::Commit(struct stat *written)
{
    if (stream_ == nullptr || error_ != 0) {
        Discard();
        return false;
    }
    if (inPlace_)
        return CommitInPlace(written);
    if (std::fflush(stream_) != 0 || fsync(fileno(stream_)) != 0 ||
        (written != nullptr && fstat(fileno(stream_), written) != 0)) {
        Fail(errno);
        return false;
    }
    FILE *stream = stream_;
    stream_ = nullptr;
    if (std::fclose(stream) != 0 || std::rename(tempName_, finalName_) != 0) {
        Fail(errno);
        return false;
    }
    tempName_[0] = 0;
    SyncDirectoryOf(finalName_);
    return true;
}

bool AtomicFileWriter::CommitInPlace(struct stat *written)
{
    const int fd = fileno(stream_);
    const long length = std::ftell(stream_);
    if (length < 0 || std::fflush(stream_) != 0 || ftruncate(fd, length) != 0 || fsync(fd) != 0 ||
        (written != nullptr && fstat(fd, written) != 0)) {
        Fail(errno);
        return false;
    }
    FILE *stream = stream_;
    stream_ = nullptr;
    if (std::fclose(stream) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

void AtomicFileWriter::Fail(int error)
{
    if (error_ == 0)
        error_ = error != 0 ? error : EIO;
    Discard();
}

void AtomicFileWriter::Discard()
{
    if (stream_ != nullptr) {
        if (inPlace_)
            __fpurge(stream_);  // the held-back text must not reach the file now
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (tempName_[0] != 0)
        unlink(tempName_);
    tempName_[0] = 0;
}
