#pragma once

// What a disk does to a writer, for the tests of the files that must survive it: a size limit
// on the files this process writes, and a child with a file system of its own mounted.

#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <functional>

#include <sched.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>

// Limits the size of any file this process writes, the way a full disk would, so that the
// save fails in the middle of its text.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

// Runs check in a child, in a mount namespace of its own where a fresh file system of the given
// type is mounted on "mnt" (none: the folder is the test's own; "fusefat": fat.img through FUSE),
// and yields what it reports: nothing when every step held, "skip: " and why where such a file
// system cannot be mounted. The child has a minute at most.
inline QByteArray InChild(const QByteArray &fileSystem, const std::function<QByteArray()> &check)
{
    int report[2];
    if (pipe(report) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);
        close(report[0]);
        const char *options = fileSystem == "tmpfs" ? "size=64k" : nullptr;
        const bool mounted = fileSystem.isEmpty() ||
                             (unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                              (fileSystem == "fusefat" ? std::system("fusefat -o rw+ fat.img mnt >/dev/null 2>&1") == 0
                                                       : mount(fileSystem.constData(), "mnt", fileSystem.constData(), 0, options) == 0));
        const QByteArray result = mounted ? check() : "skip: no " + fileSystem + " could be mounted here";
        if (mounted && !fileSystem.isEmpty() && (chdir("..") != 0 || umount2("mnt", MNT_DETACH) != 0))
            _exit(1);  // the FUSE server ends with its mount
        _exit(write(report[1], result.constData(), size_t(result.size())) == result.size() ? 0 : 1);
    }
    close(report[1]);
    QByteArray got;
    char piece[512];
    for (ssize_t n; (n = read(report[0], piece, sizeof piece)) > 0;)
        got.append(piece, n);
    close(report[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        got += " (the child did not finish)";
    return got;
}
#endif
