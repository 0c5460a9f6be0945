#include "atomic_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

AtomicFileWriter::AtomicFileWriter(const char *finalName, SpecialTarget special)
    : finalName_(finalName), special_(special)
{
}

void AtomicFileWriter::Print(const char *format, ...)
{
    if (overflow_)
        return;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text_ + length_, TextCapacity - length_, format, arguments);
    va_end(arguments);
    if (written < 0 || size_t(written) >= TextCapacity - length_)
        overflow_ = true;
    else
        length_ += size_t(written);
}

bool AtomicFileWriter::Commit(SaveFailure *failure, const ReplaceCheck &check)
{
    if (overflow_)
        return SaveFailed(failure, EFBIG);
    return WriteWholeFile(finalName_, text_, length_, special_, failure, check);
}

bool ChangedMeanwhile(SaveFailure *failure)
{
    SaveFailed(failure, EAGAIN, "Was changed by another program while it was being saved");
    if (failure != nullptr)
        failure->changedMeanwhile = true;
    return false;
}

bool FailRewrite(SaveFailure *failure, int error, bool damaged, const char *copy)
{
    char reason[sizeof SaveFailure::reason];
    const char *why = std::strerror(error);
    if (damaged && copy[0] != 0)
        std::snprintf(reason, sizeof reason, "%s; the file is damaged, and its old text is in %s", why, copy);
    else if (damaged)
        std::snprintf(reason, sizeof reason, "%s; the file is damaged, and no copy of its old text could be kept", why);
    else if (copy[0] != 0)
        std::snprintf(reason, sizeof reason, "%s; the new text may not have reached the disk, and the old text is in %s",
                      why, copy);
    else
        std::snprintf(reason, sizeof reason, "%s", why);
    return SaveFailed(failure, error, reason);
}

bool RefuseOverwriting(SaveFailure *failure, const char *other)
{
    char reason[sizeof SaveFailure::reason];
    std::snprintf(reason, sizeof reason, "Leads to the same file as %s, which it would overwrite", other);
    return SaveFailed(failure, EINVAL, reason);
}

bool SaveFailed(SaveFailure *failure, int error, const char *reason)
{
    if (error == 0)
        error = EIO;
    if (failure != nullptr) {
        failure->error = error;
        std::snprintf(failure->reason, sizeof failure->reason, "%s", reason != nullptr ? reason : std::strerror(error));
    }
    return false;
}

const char *FileKindText(FileKind kind)
{
    switch (kind) {
    case FileKind::Directory:
        return "Is a directory";
    case FileKind::NamedPipe:
        return "Is a named pipe";
    case FileKind::Device:
        return "Is a device";
    case FileKind::Socket:
        return "Is a socket";
    case FileKind::Regular:
    case FileKind::Other:
        break;
    }
    return "Is not a regular file";
}

void DescribeTooLarge(char *text, size_t capacity, int64_t size, int64_t bound, const char *what)
{
    if (size < 0)
        std::snprintf(text, capacity, "Is more than %lld bytes long, far more than any %s", static_cast<long long>(bound),
                      what);
    else
        std::snprintf(text, capacity, "Is %lld bytes long, far more than any %s", static_cast<long long>(size), what);
}
