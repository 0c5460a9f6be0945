// A file's extended attributes, a POSIX ACL among them (Linux keeps it as the attribute
// system.posix_acl_access), go with the new text to the temporary that replaces it: a save keeps
// whom the player let read or write, and tags other programs put on it.

#include "posix_calls.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/xattr.h>

namespace {

constexpr const char *AccessAcl = "system.posix_acl_access";
// A list that changes while it is read is read again, a few times at most.
constexpr int ListAttempts = 4;

bool NoAttributesHere(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// The names of the file's attributes, one after another, each ending in a NUL.
bool ListAttributes(const char *path, std::vector<char> &names)
{
    for (int attempt = 0; attempt < ListAttempts; ++attempt) {
        const ssize_t size = listxattr(path, nullptr, 0);
        if (size < 0) {
            names.clear();
            return NoAttributesHere(errno);
        }
        names.resize(size_t(size));
        const ssize_t got = size > 0 ? listxattr(path, names.data(), names.size()) : 0;
        if (got >= 0) {
            names.resize(size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    errno = EAGAIN;
    return false;
}

bool CopyAttribute(const char *from, const char *name, int to)
{
    std::vector<char> value;
    for (int attempt = 0; attempt < ListAttempts; ++attempt) {
        const ssize_t size = getxattr(from, name, nullptr, 0);
        if (size < 0)
            return errno == ENODATA;  // removed meanwhile: nothing to keep
        value.resize(size_t(size));
        const ssize_t got = size > 0 ? getxattr(from, name, value.data(), value.size()) : 0;
        if (got >= 0)
            return fsetxattr(to, name, value.data(), size_t(got), 0) == 0;
        if (errno != ERANGE)
            return false;
    }
    errno = EAGAIN;
    return false;
}

}  // namespace

bool CopyExtendedAttributes(const char *from, int to)
{
    std::vector<char> names;
    if (!ListAttributes(from, names))
        return false;
    bool hasAcl = false;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char *name = names.data() + at;
        hasAcl = hasAcl || std::strcmp(name, AccessAcl) == 0;
        if (!CopyAttribute(from, name, to))
            return false;
    }
    // A default ACL of the folder gave the temporary one of its own, which the file had not.
    return hasAcl || fremovexattr(to, AccessAcl) == 0 || errno == ENODATA || NoAttributesHere(errno);
}
