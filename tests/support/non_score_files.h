#pragma once

#include <cstring>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>

#include "chart_fixture.h"
#include "score_file.h"

// Named pipes, sockets and device nodes cannot be made under a file name on Windows, and it has
// no endless regular files; the tests of those kinds run where the system has them.
inline bool SystemMakesKind(const QByteArray &kind)
{
#ifdef _WIN32
    return kind != "fifo" && kind != "zero" && kind != "socket" && kind != "endless";
#else
    Q_UNUSED(kind);
    return true;
#endif
}

#ifndef _WIN32

// An endless device, made in the test's own folder: a link to the system's /dev/zero would be
// written over as root by any save that forgot to refuse it. Without root no node can be made,
// and the system's device is out of the test's reach anyway.
inline bool MakeZeroDevice(const char *name)
{
    if (geteuid() != 0)
        return symlink("/dev/zero", name) == 0;
    return mknod("zero-device", S_IFCHR | 0666, makedev(1, 5)) == 0 && symlink("zero-device", name) == 0;
}

inline bool MakeSocket(const char *name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name, sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);  // the socket's name stays behind
    return bound;
}

#endif

// Puts what is no score file under the given name: "fifo" (a named pipe), "zero" (a link to an
// endless device), "socket", "dir", "endless" (a link to a regular file that claims no size and
// reads on without end), "huge" (a sparse gigabyte), "nochart" (text that names no chart: a
// record whose title has another letter case); or a record followed by zeros up to the size
// bound ("bound") or one byte past it ("above").
inline bool MakeNonScoreFile(const QByteArray &kind, const char *name)
{
#ifndef _WIN32
    if (kind == "fifo")
        return mkfifo(name, 0600) == 0;
    if (kind == "zero")
        return MakeZeroDevice(name);
    if (kind == "socket")
        return MakeSocket(name);
    if (kind == "endless")
        return symlink("/proc/self/pagemap", name) == 0;
#endif
    if (kind == "dir")
        return QDir().mkdir(QString::fromLatin1(name));
    if (kind == "nochart")
        return WriteBytes(name, ScoreRecord("absolute", "06/09/2005", 10));
    const qint64 size = kind == "huge" ? qint64(1) << 30 : MaxScoreFileSize + (kind == "above" ? 1 : 0);
    return WriteBytes(name, ScoreRecord("ABSOLUTE", "06/09/2005", 10)) && QFile::resize(QString::fromLatin1(name), size);
}
