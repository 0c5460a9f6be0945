// Names on POSIX systems: where a name leads through symbolic links, the folder it lies in, the
// names of the files beside it, and the folder the program runs in as the player knows it, for
// messages.

#include "file_system.h"

#include "posix_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

const char FolderSeparator[] = "/";

namespace {

// The folder the program runs in, as last named: once it is removed, the system names it no
// more, and a message would say "." instead.
char rememberedDirectory[PATH_MAX];

}  // namespace

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

void RememberCurrentDirectory()
{
    char current[PATH_MAX];
    if (getcwd(current, sizeof current) != nullptr)
        std::memcpy(rememberedDirectory, current, sizeof current);
}

void FullPathOf(const char *folder, char (&full)[PATH_MAX])
{
    RememberCurrentDirectory();
    char current[PATH_MAX];
    std::memcpy(current, rememberedDirectory, sizeof current);
    const bool relative = folder[0] != '/' && current[0] != 0;
    const bool here = std::strcmp(folder, ".") == 0;
    const char *joint = !relative || here || std::strcmp(current, "/") == 0 ? "" : "/";
    const int written = std::snprintf(full, sizeof full, "%s%s%s", relative ? current : "", joint,
                                      relative && here ? "" : folder);
    if (written < 0 || written >= int(sizeof full))
        std::snprintf(full, sizeof full, "%s", folder);  // too long to join: as the name was given
}

namespace {

// As the kernel allows: a longer chain of links is a loop.
constexpr int MaxLinkHops = 40;

bool Copy(char (&to)[PATH_MAX], const char *from)
{
    if (std::snprintf(to, sizeof to, "%s", from) >= int(sizeof to)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

}  // namespace

// A file kept behind a symbolic link (the scores in a synced folder, say) is written where the link
// points, so the link goes on pointing at the current text; that holds for a link to a file
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

void FolderWrittenBy(const char *name, char (&folder)[PATH_MAX])
{
    char target[PATH_MAX];
    if (ResolveTarget(name, target))
        DirectoryOf(target, folder);
    else
        std::snprintf(folder, sizeof folder, ".");
}

bool LeadsToFileOf(const char *name, const char *other, bool onlyThroughALinkOfName)
{
    char mine[PATH_MAX], theirs[PATH_MAX];
    struct stat mineInfo, theirInfo, nameItself, otherItself;
    if (!ResolveTarget(name, mine) || !ResolveTarget(other, theirs))
        return false;
    const bool bothThere = stat(mine, &mineInfo) == 0 && stat(theirs, &theirInfo) == 0;
    const bool same = bothThere ? mineInfo.st_dev == theirInfo.st_dev && mineInfo.st_ino == theirInfo.st_ino
                                : std::strcmp(mine, theirs) == 0;
    return same && (!onlyThroughALinkOfName || (lstat(name, &nameItself) == 0 && S_ISLNK(nameItself.st_mode) &&
                                                lstat(other, &otherItself) == 0 && !S_ISLNK(otherItself.st_mode)));
}


bool PathBeside(const char *owner, const char *name, NativePath &path)
{
    char folder[PATH_MAX];
    FolderWrittenBy(owner, folder);
    const bool joined = folder[0] != 0 && folder[std::strlen(folder) - 1] == '/';
    const int length = std::snprintf(path, sizeof path, "%s%s%s", folder, joined ? "" : "/", name);
    if (length < 0 || length >= int(sizeof path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}
