// What the file layer does the same on every system.

#include "file_system.h"

#include <cerrno>
#include <cstring>

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

void DescribeFileRefusal(const FileStatus &status, int64_t bound, const char *what, char *text, size_t capacity)
{
    text[0] = 0;
    switch (status.refusal) {
    case FileRefusal::None:
    case FileRefusal::Missing:
        break;
    case FileRefusal::NotRegular:
        std::snprintf(text, capacity, "%s", FileKindText(status.kind));
        break;
    case FileRefusal::TooLarge:
        DescribeTooLarge(text, capacity, status.size, bound, what);
        break;
    case FileRefusal::Unreadable:
        std::snprintf(text, capacity, "%s", std::strerror(status.error));
        break;
    }
}

std::string WithSystemLineEnds(const char *text, size_t length)
{
    const size_t endLength = std::strlen(LineEndOnDisk);
    if (endLength == 1)
        return std::string(text, length);
    std::string bytes;
    bytes.reserve(length + length / 8);
    for (const char *p = text; p < text + length; ++p) {
        if (*p == '\n')
            bytes.append(LineEndOnDisk, endLength);
        else
            bytes.push_back(*p);
    }
    return bytes;
}

FILE *OpenRegularFileBeside(const char *owner, const char *name, int64_t maxSize, FileStatus &status)
{
    NativePath path;
    if (PathBeside(owner, name, path))
        return OpenRegularFile(path, maxSize, status);
    status.refusal = FileRefusal::Unreadable;
    status.error = ENAMETOOLONG;
    return nullptr;
}

void ShownPathBeside(const char *owner, const char *name, char (&path)[PATH_MAX])
{
    char folder[PATH_MAX], full[PATH_MAX];
    FolderWrittenBy(owner, folder);
    FullPathOf(folder, full);
    const size_t length = std::strlen(full);
    const bool joined = length > 0 && (full[length - 1] == '/' || full[length - 1] == FolderSeparator[0]);
    const int written = std::snprintf(path, sizeof path, "%s%s%s", full, joined ? "" : FolderSeparator, name);
    if (written < 0 || written >= int(sizeof path))
        std::snprintf(path, sizeof path, "%s", name);  // too long to name whole: the file's own name
}
