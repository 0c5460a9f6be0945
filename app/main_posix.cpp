#include "main_system.h"

#include <cstdio>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file in memory: a start never depends on a writable /tmp, nor leaves anything there. Where
// the system has no such file, an unnamed temporary stands in.
int HeldStderrFile()
{
    const int inMemory = memfd_create("brisko-held-stderr", MFD_CLOEXEC);
    if (inMemory >= 0)
        return inMemory;
    std::FILE *held = std::tmpfile();
    if (held == nullptr)
        return -1;
    const int fd = dup(fileno(held));
    std::fclose(held);
    return fd;
}

}  // namespace

void UseParentConsole() {}

void HeldStderr::Hold()
{
    held_ = HeldStderrFile();
    if (held_ < 0)
        return;
    std::fflush(stderr);
    real_ = dup(STDERR_FILENO);
    if (real_ < 0 || dup2(held_, STDERR_FILENO) < 0) {
        close(held_);
        close(real_);
        held_ = real_ = -1;
    }
}

void HeldStderr::Release(bool show)
{
    if (real_ < 0)
        return;
    std::fflush(stderr);
    dup2(real_, STDERR_FILENO);
    char buffer[4096];
    ssize_t got = 0;
    lseek(held_, 0, SEEK_SET);
    while (show && (got = read(held_, buffer, sizeof buffer)) > 0)
        (void)!write(STDERR_FILENO, buffer, size_t(got));
    close(held_);
    close(real_);
    held_ = real_ = -1;
}
