// Another window's hold on the score file's lock, in a process of its own: takes the lock in the
// folder it is given, answers "held" (or "busy"), and keeps the lock until it is killed or its
// standard input closes.
#include <cstdio>

#include <QCoreApplication>
#include <QDir>

#include "score_file_lock.h"

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // The folder as the system passed it, wide on Windows: any name reaches it whole.
    if (argc != 2 || !QDir::setCurrent(QCoreApplication::arguments().at(1))) {
        std::fprintf(stderr, "usage: lock_holder DIRECTORY\n");
        return 2;
    }
    const ScoreFileLock lock;
    std::printf("%s\n", lock.Busy() ? "busy" : "held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
