#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QString>

// Root may read and write any file, so a test of what the player may not do runs its step in a
// child that has dropped to "nobody", in a directory of the given mode (0777: nobody may create
// files there; 0555: nobody may not). The directory is made the owner's alone again afterwards.
// Returns the step's result, or -1 when the child failed.
template <typename Step> int RunAsUnprivileged(const QString &directory, Step step, mode_t directoryMode = 0777)
{
    const QByteArray path = QFile::encodeName(directory);
    if (chmod(path.constData(), directoryMode) != 0)
        return -1;
    int result = -1;
    if (geteuid() != 0) {
        result = step();
    } else {
        constexpr uid_t Nobody = 65534;
        pid_t child = fork();
        if (child == 0) {
            if (setgid(Nobody) != 0 || setuid(Nobody) != 0)
                _exit(255);
            _exit(step());
        }
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) != 255)
            result = WEXITSTATUS(status);
    }
    chmod(path.constData(), 0700);
    return result;
}
