#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>

#include "writer_seams.h"

// Puts calls of its own in the writer's place for as long as it lives: a rename or a sync that
// fails with the given errno, a temporary (but no other file) that cannot be made, or a stream
// whose every read fails. Each sync of a file rewritten in place notes the file's size then,
// and fails too: every one, or only those after the first (the sync after the shortening).
class ScopedWriterFault {
public:
    ScopedWriterFault(const QByteArray &call, int error) : saved_(writerSeams)
    {
        injected = error;
        syncedSizes.clear();
        syncsThatHold = call == "sync rewritten" ? 0 : call == "sync after shortening" ? 1 : SIZE_MAX;
        writerSeams.syncRewritten = [](int fd) {
            struct stat info {};
            syncedSizes.push_back(fstat(fd, &info) == 0 ? info.st_size : -1);
            return syncedSizes.size() > syncsThatHold ? (errno = injected, -1) : fsync(fd);
        };
        if (call == "rename")
            writerSeams.rename = [](const char *, const char *) { return errno = injected, -1; };
        if (call == "sync")
            writerSeams.syncFolder = [](int) { return errno = injected, -1; };
        if (call == "temporary")
            writerSeams.makeTemporary = [](char *name, int flags) {
                return std::strstr(name, ".tmp-") != nullptr ? (errno = injected, -1) : mkostemp(name, flags);
            };
        if (call == "read")
            writerSeams.openStream = [](int fd, const char *mode) {
                static const cookie_io_functions_t failing = {
                    [](void *, char *, size_t) -> ssize_t { return errno = injected, -1; }, nullptr, nullptr,
                    [](void *cookie) { return close(int(intptr_t(cookie))); }};
                return fopencookie(reinterpret_cast<void *>(intptr_t(fd)), mode, failing);
            };
    }
    ~ScopedWriterFault() { writerSeams = saved_; }
    ScopedWriterFault(const ScopedWriterFault &) = delete;
    ScopedWriterFault &operator=(const ScopedWriterFault &) = delete;

    static inline std::vector<off_t> syncedSizes;

private:
    static inline int injected = 0;
    static inline size_t syncsThatHold = SIZE_MAX;
    WriterSeams saved_;
};
